// A one-line progress display on stderr, redrawn in place. Silent unless stderr is a terminal,
// so that logs and pipes receive nothing but the results.
#pragma once

#include <cstdint>
#include <string>

namespace velk_cli {

class ProgressLine {
public:
    explicit ProgressLine(bool enabled);
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows "label: 42%" (or just the label when the total is unknown); redraws only when the
    // shown text changes.
    void Show(const std::string& label, int64_t done, int64_t total);
    // Removes the line, so that the next message starts at the left margin.
    void Clear();

private:
    bool m_enabled;
    std::string m_shown;
};

}  // namespace velk_cli
