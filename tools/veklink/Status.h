// Progress as the commands show it: counts with their nouns, rates and
// totals, and the live status line.
#ifndef VEKLINK_TOOL_STATUS_H
#define VEKLINK_TOOL_STATUS_H

#include <cstddef>
#include <string>

std::string Counted(unsigned long long n, const char* noun);      // "1 datagram", "5 datagrams"
std::string FormatBytes(unsigned long long bytes);                // "1 byte", "5 bytes"
std::string FormatRate(unsigned long datagrams, double seconds);  // "12.5 datagrams/s"
// "N datagrams, B bytes in T s (R datagrams/s, R bytes/s)"
std::string FormatTotals(unsigned long datagrams, unsigned long long bytes, double seconds);

// A progress line rewritten in place while standard output is a terminal;
// on anything else it shows nothing, so redirected output stays a plain log.
class StatusLine {
public:
    StatusLine();
    bool Live() const { return live_; }
    void Show(const std::string& text);  // cut to 79 characters
    // Blanks the line, for a final line printed in its place.
    void Clear();

private:
    bool live_;
    std::size_t shown_ = 0;
};

#endif
