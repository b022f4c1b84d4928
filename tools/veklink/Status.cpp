#include "Status.h"

#include "support.h"

#include <cstdio>

namespace {

// A run too short to time still gets a finite rate.
double Span(double seconds) { return seconds > 1e-6 ? seconds : 1e-6; }

}  // namespace

std::string Counted(unsigned long long n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string FormatBytes(unsigned long long bytes) { return Counted(bytes, "byte"); }

std::string FormatRate(unsigned long datagrams, double seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f datagrams/s",
                  static_cast<double>(datagrams) / Span(seconds));
    return text;
}

std::string FormatTotals(unsigned long datagrams, unsigned long long bytes, double seconds) {
    char bytesRate[48];
    std::snprintf(bytesRate, sizeof bytesRate, "%.0f bytes/s",
                  static_cast<double>(bytes) / Span(seconds));
    char span[32];
    std::snprintf(span, sizeof span, "%.3f s", seconds);
    return Counted(datagrams, "datagram") + ", " + FormatBytes(bytes) + " in " + span + " (" +
           FormatRate(datagrams, seconds) + ", " + bytesRate + ")";
}

StatusLine::StatusLine() : live_(support::OutputIsTerminal()) {}

void StatusLine::Show(const std::string& full) {
    if (!live_) return;
    // A line that wraps could not be rewritten by going back to its start;
    // every terminal has 80 columns at least.
    const std::string text = full.substr(0, 79);
    // Spaces cover what is left of a longer line shown before.
    const std::string cover(shown_ > text.size() ? shown_ - text.size() : 0, ' ');
    std::printf("\r%s%s", text.c_str(), cover.c_str());
    std::fflush(stdout);
    shown_ = text.size();
}

void StatusLine::Clear() {
    if (!live_ || !shown_) return;
    std::printf("\r%s\r", std::string(shown_, ' ').c_str());
    shown_ = 0;
}
