#include "apply/mismatch_reason.h"

#include "apply/messages.h"
#include "format/file_kind.h"

namespace {

// What "a large binary" is: an original this long is no text file a user would confuse.
constexpr uint64_t kLargeOriginalBytes = 1u << 20;

}  // namespace

// The most telling reason wins: a file that is empty, a patch or an archive has another size
// as well, but its kind is what the user has to act on.
void ExplainMismatch(CVELK_xFile& target, int64_t targetSize, const VelkResultIdentity* identity,
                     CVELK_MessageText& line)
{
    using namespace velk_messages;
    const VelkFileKind kind = velk_file_kind::Sniff(target, targetSize);
    const char16_t* archive = velk_file_kind::ArchiveName(kind);
    if (kind == VelkFileKind::kEmpty) {
        line.Add(kWhyEmpty);
    } else if (kind == VelkFileKind::kPatch) {
        line.Add(kWhyPatch);
    } else if (archive) {
        line.Fill(kWhyArchive, &archive, 1);
    } else if (!identity || targetSize < 0 || static_cast<uint64_t>(targetSize) == identity->originalSize) {
        return;
    } else if (kind == VelkFileKind::kText && identity->originalSize >= kLargeOriginalBytes) {
        line.Add(kWhyText);
    } else {
        const VelkGroupedNumber actual(static_cast<uint64_t>(targetSize)), expected(identity->originalSize);
        const char16_t* sizes[] = {actual.units, expected.units};
        line.Fill(kWhySize, sizes, 2);
    }
}
