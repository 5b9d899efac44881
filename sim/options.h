#pragma once

#include <set>
#include <string>

// The command line of the simulated board. Counts of -1 mean "never".
class Options
{
public:
    // False with a message in error when an argument is bad.
    bool parse(int argc, char **argv, std::string &error);
    static std::string usage();

    bool help = false;
    std::string link;
    std::string transcript;
    std::string flashDump;
    std::string identity = "Velmora VelmoraMCU HQL3318 DemoBoard,SIM,1.0";
    std::string version = "0104";
    // A fixed build date keeps replies the same from run to run.
    std::string buildDate = "Thu Dec 10 05:17:31 2026";
    std::set<std::string> errorNames;
    std::set<std::string> errorOnceNames;
    long delayMs = 0;
    // The modelled USB serial line: 0 for none.
    long baud = 0;
    long latencyMs = 0;
    long restartMs = 300;
    long silentAfter = -1;
    long garbageAfter = -1;
    long hangupAfter = -1;
    long enqReply = 0x06;
    long bigReply = -1;
    unsigned long seed = 1;
    bool exitOnStdinEof = false;
    bool chipRegisters = false;
    bool countRoundTrips = false;
};
