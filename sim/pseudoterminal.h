#pragma once

#include <string>

// The board's end of a pseudo-terminal. The terminal end stays open here
// for the whole run, so the board never sees a hang-up while the
// application closes and reopens the port (as it does to change speed).
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open(std::string &error);
    // A symbolic link to the terminal end, removed again by close().
    bool makeLink(const std::string &path, std::string &error);
    // Closes both ends: the application then sees a hang-up.
    void close();

    int master() const { return m_master; }
    const std::string &slavePath() const { return m_slavePath; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_link;
};
