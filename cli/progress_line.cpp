#include "cli/progress_line.h"

#include "cli/platform.h"

namespace velk_cli {

ProgressLine::ProgressLine(bool enabled) : m_enabled(enabled) {}

void ProgressLine::Show(const std::string& label, int64_t done, int64_t total)
{
    if (!m_enabled) return;
    std::string text = label;
    if (total > 0) {
        const int64_t percent = done >= total ? 100 : done * 100 / total;
        text += ": " + std::to_string(percent) + "%";
    }
    if (text == m_shown) return;
    // Padding wipes what a longer earlier text left on the line.
    std::string line = "\r" + text;
    if (m_shown.size() > text.size()) line += std::string(m_shown.size() - text.size(), ' ');
    WriteText(Stream::kErr, line);
    m_shown = text;
}

void ProgressLine::Clear()
{
    if (!m_enabled || m_shown.empty()) return;
    WriteText(Stream::kErr, "\r" + std::string(m_shown.size(), ' ') + "\r");
    m_shown.clear();
}

}  // namespace velk_cli
