#include "messages/expand_environment.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

namespace {

const std::pair<const char*, const char*> kVariables[] = {{"TV_ROOT", "C:\\Torvane"},
                                                          {"TV_USER", "anne"},
                                                          {"TV_RATE", "100%"},
                                                          {"TV_INNER", "D:\\data"},
                                                          {"TV_OUTER", "%TV_INNER%\\jobs"},
                                                          {"TV_SELF", "%TV_SELF%"},
                                                          {"TV_GROW", "x%TV_GROW%"}};

// Sets the test variables for one test and removes them afterwards.
class ExpandEnvironmentTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const auto& [name, value] : kVariables) ASSERT_TRUE(platform::SetEnv(name, value));
        platform::UnsetEnv("TV_UNSET_VARIABLE");
    }
    void TearDown() override {
        for (const auto& [name, value] : kVariables) platform::UnsetEnv(name);
    }
};

// An unset variable or a lone "%" stops a pass; values are expanded by the next pass.
TEST_F(ExpandEnvironmentTest, ReplacesReferencesAndEnds) {
    const char* const cases[][2] = {
        {"%TV_ROOT%\\users\\%TV_USER%\\batch", "C:\\Torvane\\users\\anne\\batch"},
        {"%TV_ROOT%%TV_USER%", "C:\\Torvaneanne"},
        {"", ""},
        {"%TV_USER%\\%TV_UNSET_VARIABLE%\\%TV_USER%", "anne\\%TV_UNSET_VARIABLE%\\%TV_USER%"},
        {"50% done", "50% done"},
        {"%TV_USER%\\50% done", "anne\\50% done"},
        {"%%TV_USER%", "%%TV_USER%"},
        {"%TV_OUTER%\\x", "D:\\data\\jobs\\x"},
        {"%TV_RATE% of %TV_INNER%", "100% of D:\\data"},
        {"%TV_SELF%\\a", "%TV_SELF%\\a"},
    };
    for (const auto& [text, expanded] : cases) EXPECT_EQ(ExpandEnvironment(text), expanded) << text;
    // Values that refer to themselves end.
    CString grown = ExpandEnvironment("%TV_GROW%");
    EXPECT_TRUE(grown.Find("x%TV_GROW%") != CString::npos) << grown.c_str();
    EXPECT_LT(grown.GetLength(), 100);
}

}  // namespace
