// The stand-in client's event log: one line per event, appended to a file that tests and the
// demo read. Safe to use from the retrieval thread and the window thread at once.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace pw {

class StandInLog {
public:
    // An empty path logs nothing.
    explicit StandInLog(std::string path) : path_(std::move(path)) {}

    // Appends "yyyy-mm-dd hh:nn:ss.zzz [pid] text". Control bytes in text become "?", so a
    // hostile server text cannot forge lines.
    void Write(std::string_view text);

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::mutex mutex_;
};

// A hostile text made fit for one log line: control bytes replaced, cut to maxBytes.
std::string Printable(std::string_view text, std::size_t maxBytes = 200);

} // namespace pw
