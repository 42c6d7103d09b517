#include "messages/expand_environment.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace {

// Sets test variables for one test and removes them afterwards.
class ExpandEnvironmentTest : public testing::Test {
  protected:
    void Set(const std::string& name, const std::string& value) {
        ASSERT_TRUE(platform::SetEnv(name, value));
        m_names.push_back(name);
    }
    ~ExpandEnvironmentTest() override {
        for (const std::string& name : m_names) platform::UnsetEnv(name);
    }

  private:
    std::vector<std::string> m_names;
};

TEST_F(ExpandEnvironmentTest, ReplacesReferencesLeftToRight) {
    Set("TV_ROOT", "C:\\Torvane");
    Set("TV_USER", "anne");
    EXPECT_EQ(ExpandEnvironment("%TV_ROOT%\\users\\%TV_USER%\\batch"),
              "C:\\Torvane\\users\\anne\\batch");
    EXPECT_EQ(ExpandEnvironment("%TV_ROOT%%TV_USER%"), "C:\\Torvaneanne");
    EXPECT_EQ(ExpandEnvironment("no reference here"), "no reference here");
    EXPECT_EQ(ExpandEnvironment(""), "");
}

TEST_F(ExpandEnvironmentTest, StopsAtAnUnsetVariableOrALonePercent) {
    Set("TV_ROOT", "R");
    platform::UnsetEnv("TV_UNSET_VARIABLE");
    EXPECT_EQ(ExpandEnvironment("%TV_ROOT%\\%TV_UNSET_VARIABLE%\\%TV_ROOT%"),
              "R\\%TV_UNSET_VARIABLE%\\%TV_ROOT%");
    EXPECT_EQ(ExpandEnvironment("50% done"), "50% done");
    EXPECT_EQ(ExpandEnvironment("%TV_ROOT%\\50% done"), "R\\50% done");
    EXPECT_EQ(ExpandEnvironment("%%TV_ROOT%"), "%%TV_ROOT%");
}

TEST_F(ExpandEnvironmentTest, ValuesThatBringInPercentSigns) {
    Set("TV_RATE", "100%");
    Set("TV_INNER", "D:\\data");
    Set("TV_OUTER", "%TV_INNER%\\jobs");
    // A brought-in reference is expanded by a further pass over the whole text.
    EXPECT_EQ(ExpandEnvironment("%TV_OUTER%\\x"), "D:\\data\\jobs\\x");
    // Text brought in is not scanned in the same pass: "%" of the value does
    // not pair with the "%" of the next reference.
    EXPECT_EQ(ExpandEnvironment("%TV_RATE% of %TV_INNER%"), "100% of D:\\data");
    EXPECT_EQ(ExpandEnvironment("%TV_RATE%"), "100%");
}

TEST_F(ExpandEnvironmentTest, SelfReferringValuesEnd) {
    Set("TV_SELF", "%TV_SELF%");
    Set("TV_GROW", "x%TV_GROW%");
    Set("TV_DOUBLE", "%TV_DOUBLE%%TV_DOUBLE%");
    EXPECT_EQ(ExpandEnvironment("%TV_SELF%\\a"), "%TV_SELF%\\a");
    CString grown = ExpandEnvironment("%TV_GROW%");
    EXPECT_TRUE(grown.Find("x%TV_GROW%") != CString::npos) << grown.c_str();
    EXPECT_LT(grown.GetLength(), 100);
    CString doubled = ExpandEnvironment("%TV_DOUBLE%");
    EXPECT_LT(doubled.GetLength(), 100000);
}

}  // namespace
