// Fuzz target: the chaptered-file reader, through Load of a list file with
// fixed chapters holding a value of every kind (also inside sections) and a
// list of elements. What was loaded is saved again, so the writer sees the
// hostile texts too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "chapfile/kv_file_list.h"
#include "fuzz/fuzz_support.h"

namespace {

// A value stored as one text, "x;y".
struct Point : KvObjetFile {
    int x = 0;
    int y = 0;
    void FromText(const CString& text) override { std::sscanf(text.c_str(), "%d;%d", &x, &y); }
    void ToText(CString& text) override { text.Format("%d;%d", x, y); }
};

struct Tool {
    CString name;
    unsigned number = 0;
    float diameter = 0;
    bool active = false;
    Point offset;
};

class Workshop : public KvFileListe {
  public:
    Workshop() : KvFileListe("Atelier", "1.3") {}

    CString title;
    unsigned count = 0;
    int shift = 0;
    float feed = 0;
    bool metric = true;
    Point origin;
    CString nested;
    std::vector<Tool> tools;

    int ExchangeContents() override {
        Chapter("Atelier");
        ExchangeValue("Titre", title);
        ExchangeValue("Nombre", count);
        ExchangeValue("Decalage", shift);
        ExchangeValue("Avance", feed);
        ExchangeValue("Metrique", metric);
        ExchangeValue("Origine", origin);
        BeginSection("Machine");
        Chapter("Broche");
        ExchangeValue("Nom", nested);
        EndSection();
        return 4;
    }
    int ExchangeElement(KvFileChapitre* chapter) override {
        if (IsWriting()) {
            for (Tool& tool : tools) ExchangeTool(tool);
            return 4;
        }
        if (!chapter->IsElement("outil"))
            return chapter->IsElement("refus") ? 0 : 4;
        Tool tool;
        ExchangeTool(tool);
        tools.push_back(tool);
        return 4;
    }
    int ConvertFromVersion(const CString& /*versionRead*/) override { return 4; }

  private:
    void ExchangeTool(Tool& tool) {
        if (IsWriting())
            ElementChapter("outil");
        ExchangeValue("Nom", tool.name);
        ExchangeValue("Numero", tool.number);
        ExchangeValue("Diametre", tool.diameter);
        ExchangeValue("Actif", tool.active);
        ExchangeValue("Decalage", tool.offset);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = fuzzsupport::ScratchFile("atelier.txt");
    static const std::string output = fuzzsupport::ScratchFile("atelier-out.txt");
    fuzzsupport::WriteFile(input, data, size);
    Workshop workshop;
    if (workshop.Load(input.c_str()) == KvFile::kLoaded)
        workshop.Save(output.c_str());
    return 0;
}
