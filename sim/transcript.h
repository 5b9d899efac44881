#pragma once

#include <string>

// Appends what the board received to a file, one entry a line, written at
// once so that a test can read it while the board runs.
class Transcript
{
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    bool open(const std::string &path, std::string &error);
    // Bytes outside printable ASCII are written as \xNN.
    void line(const std::string &text);

private:
    int m_fd = -1;
};
