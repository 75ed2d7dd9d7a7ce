#include "Progress.h"

#include "platform/Terminal.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace sigrun {

namespace {

// The last characters of a name, for a line that must stay short.
std::string Tail(const std::string& name, std::size_t width)
{
    if (name.size() <= width)
        return name;
    return "..." + name.substr(name.size() - (width - 3));
}

std::string Minutes(double seconds)
{
    const long long whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

} // namespace

CountOnStdout::CountOnStdout() : terminal(platform::IsOutputTerminal())
{
}

void CountOnStdout::Show(long long total)
{
    // The count in decimal and a carriage return, as "%lld\r" prints it: shown after every block
    // (tens of thousands a minute of input), where the formatting machinery would cost more
    // than the digits.
    char text[24];
    char* const end = std::to_chars(text, text + sizeof text - 1, total).ptr;
    *end = '\r';
    // Only the thread that reads and writes a pass shows it: the stream need not be locked.
    fwrite_unlocked(text, 1, static_cast<std::size_t>(end - text) + 1, stdout);
    if (terminal)
    {
        const double now = platform::SteadySeconds();
        if (now - lastFlush >= 0.1)
        {
            std::fflush(stdout);
            lastFlush = now;
        }
    }
}

void CountOnStdout::Clear()
{
    std::fflush(stdout);
}

ProgressOnStderr::ProgressOnStderr(bool enabled, const std::string& name, long long fileBytes,
                                   int frameBytes)
    : enabled(enabled), label(enabled ? Tail(name, 32) : std::string()), fileBytes(fileBytes),
      frameBytes(frameBytes)
{
    start = platform::SteadySeconds();
    lastShown = start;
}

void ProgressOnStderr::Show(long long bytesIn)
{
    if (!enabled)
        return;
    const double now = platform::SteadySeconds();
    if (now - lastShown < 0.25)
        return;
    lastShown = now;
    const double elapsed = now - start;
    const double bytesPerSecond = static_cast<double>(bytesIn) / elapsed;
    const double samplesPerSecond = bytesPerSecond / frameBytes;
    char text[160];
    if (fileBytes > 0)
    {
        const long long percent = std::min(99LL, bytesIn * 100 / fileBytes);
        const double left =
            static_cast<double>(std::max(0LL, fileBytes - bytesIn)) / std::max(bytesPerSecond, 1.0);
        std::snprintf(text, sizeof text, "%s  %3lld%%  %.2f M samples/s  %s left", label.c_str(),
                      percent, samplesPerSecond / 1e6, Minutes(left).c_str());
    }
    else
        std::snprintf(text, sizeof text, "%s  %.2f M samples/s", label.c_str(),
                      samplesPerSecond / 1e6);
    std::string line = std::string("\r") + text;
    const std::size_t width = line.size() - 1;
    if (width < shownWidth)
        line.append(shownWidth - width, ' ');
    shownWidth = std::max(shownWidth, width);
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ProgressOnStderr::Clear()
{
    if (shownWidth == 0)
        return;
    const std::string blank = "\r" + std::string(shownWidth, ' ') + "\r";
    std::fputs(blank.c_str(), stderr);
    std::fflush(stderr);
    shownWidth = 0;
}

} // namespace sigrun
