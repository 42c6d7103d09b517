// Fuzz target: a message catalogue file, single-byte or UTF-16LE (the reader
// tells them apart by the byte-order mark, so the fuzzer reaches both), loaded
// as the system catalogue and then looked up. The input is also handed to the
// line parser directly, as UTF-16 units, so that header forms are explored
// without the line reader in between.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "messages/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    CMessage::TYPE_MsgIndexe message;
    if (CMessage::ParseMessageLine(units, message) &&
        (message.k1 > CMessage::kMaxKeyNumber || message.k2 > CMessage::kMaxKeyNumber ||
         message.k3 > CMessage::kMaxKeyNumber || message.k4 > CMessage::kMaxKeyNumber))
        __builtin_trap();  // a key number the tables must never see

    static const std::string path = fuzzsupport::ScratchFile("catalogue.txt");
    fuzzsupport::WriteFile(path, data, size);
    CMessage catalogue;
    if (!catalogue.LoadSystemCatalogue(path.c_str()))
        __builtin_trap();  // the file exists, so it always loads
    for (std::uint32_t k1 = 0; k1 < 4; ++k1)
        for (std::uint32_t k2 = 0; k2 < 4; ++k2) catalogue.GetMessage(k1, k2);
    catalogue.GetMessage(CMessage::kMaxKeyNumber, CMessage::kMaxKeyNumber);
    catalogue.GetMessage(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu);
    return 0;
}
