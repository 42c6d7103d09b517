// Fuzz target: a language list ("name=file" per line). The list lies in the
// scratch folder beside two real catalogues, one of each encoding, so that
// the fuzzer can name them and reach the loading of a selected language.
// Only bare file names are loaded: a hostile list could otherwise point the
// harness at /dev/zero, which tests the file system rather than the reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "messages/catalogue.h"

namespace {

void WriteCatalogues() {
    fuzzsupport::WriteFile(fuzzsupport::ScratchFile("fr.txt"),
                           "[1,0,0,0] Fichier\n[1,1,0,0] Ouvrir\n[2 3 4 5] \"Quitter\"\n");
    std::u16string text = u"[1,0,0,0] File\r\n[1,1,0,0] Open\r\n[2,3,4,5] Quit\u00e9\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    fuzzsupport::WriteFile(fuzzsupport::ScratchFile("en.txt"), bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = fuzzsupport::ScratchFolder();
    static const std::string path = [] {
        WriteCatalogues();
        return fuzzsupport::ScratchFile("langues.txt");
    }();
    fuzzsupport::WriteFile(path, data, size);

    CMessage messages;
    if (!messages.LoadLanguageList(path.c_str()))
        __builtin_trap();  // the list exists, so it always opens
    // GetAt is not const (the list grows when indexed past its end); only
    // positions inside the list are asked for here.
    auto* languages = const_cast<KvListeTabFixe<CMessage::TYPE_Langue>*>(messages.GetLanguages());
    const int count = static_cast<int>(languages->GetCount());
    for (int i = 0; i < count && i < 8; ++i) {
        const std::string& file = languages->GetAt(i)->file.str();
        if (file.size() <= folder.size() + 1 ||
            file.find_first_of("\\/:", folder.size() + 1) != std::string::npos)
            continue;
        messages.LoadLanguage(i);
        messages.GetMessage(1, 0, 0, 0);
        messages.GetMessage(2, 3, 4, 5);
    }
    messages.LoadLanguage(count);
    messages.LoadLanguage(-1);
    return 0;
}
