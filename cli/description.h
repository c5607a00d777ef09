// The description a patch author writes as a UTF-8 text file, turned into the text the payload
// carries: UTF-16 with CR LF line ends (the Windows edit box shows nothing else as a new line).
#pragma once

#include <cstddef>
#include <string>

namespace velk_cli {

// The payload's description is read back through a buffer of 32768 units, the terminating NUL
// included.
constexpr size_t kMaxDescriptionUnits = 32767;

enum class DescriptionStatus { kOk, kNotUtf8, kContainsNul, kTooLong };

struct DescriptionResult {
    DescriptionStatus status = DescriptionStatus::kOk;
    std::u16string text;      // without the terminating NUL, which the payload writer adds
    size_t badByte = 0;       // where the UTF-8 goes wrong (kNotUtf8, kContainsNul)
    size_t units = 0;         // length in UTF-16 units (also for kTooLong)
};

// A leading byte-order mark is dropped; LF, CR LF and a lone CR all become CR LF.
DescriptionResult ConvertDescription(const std::string& utf8);

}  // namespace velk_cli
