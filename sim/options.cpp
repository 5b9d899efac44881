#include "options.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Accepts decimal or 0x-prefixed hexadecimal, nothing else.
bool toNumber(const std::string &text, long min, long max, long &value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || n < min || n > max)
        return false;
    value = n;
    return true;
}

} // namespace

bool Options::parse(int argc, char **argv, std::string &error)
{
    constexpr long maxCount = 1000000000L;
    constexpr long maxBig = 4L * 1024 * 1024;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.erase(eq);
            hasValue = true;
        }
        auto next = [&]() {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto number = [&](long min, long max, long &out) {
            if (!next())
                return false;
            if (!toNumber(value, min, max, out)) {
                error = "bad value for " + name + ": " + value;
                return false;
            }
            return true;
        };
        bool ok = true;
        if (name == "--help" || name == "-h") {
            help = true;
        } else if (name == "--exit-on-stdin-eof") {
            exitOnStdinEof = true;
        } else if (name == "--link") {
            ok = next();
            link = value;
        } else if (name == "--transcript") {
            ok = next();
            transcript = value;
        } else if (name == "--flash-dump") {
            ok = next();
            flashDump = value;
        } else if (name == "--idn") {
            ok = next();
            identity = value;
        } else if (name == "--version") {
            ok = next();
            version = value;
        } else if (name == "--build-date") {
            ok = next();
            buildDate = value;
        } else if (name == "--error") {
            ok = next();
            errorNames.insert(value);
        } else if (name == "--error-once") {
            ok = next();
            errorOnceNames.insert(value);
        } else if (name == "--chip-registers") {
            chipRegisters = true;
        } else if (name == "--count-round-trips") {
            countRoundTrips = true;
        } else if (name == "--baud") {
            ok = number(50, 4000000, baud);
        } else if (name == "--latency") {
            ok = number(0, 1000, latencyMs);
        } else if (name == "--delay") {
            ok = number(0, 600000, delayMs);
        } else if (name == "--restart-ms") {
            ok = number(0, 600000, restartMs);
        } else if (name == "--silent-after") {
            ok = number(0, maxCount, silentAfter);
        } else if (name == "--garbage-after") {
            ok = number(0, maxCount, garbageAfter);
        } else if (name == "--hangup-after") {
            ok = number(0, maxCount, hangupAfter);
        } else if (name == "--enq-reply") {
            ok = number(0, 255, enqReply);
        } else if (name == "--big-reply") {
            ok = number(4, maxBig, bigReply);
        } else if (name == "--seed") {
            long s = 0;
            ok = number(0, 0x7fffffffL, s);
            seed = static_cast<unsigned long>(s);
        } else {
            error = "unknown option " + name;
            return false;
        }
        if (!ok)
            return false;
    }
    return true;
}

std::string Options::usage()
{
    return "Usage: hql3318-sim [options]\n"
           "Plays the HQL3318 demo board on a pseudo-terminal. The first line on\n"
           "standard output is the terminal's path; connect the application to it.\n"
           "\n"
           "  --link PATH            also make a symbolic link PATH to the terminal\n"
           "                         (removed at exit)\n"
           "  --exit-on-stdin-eof    exit when standard input reaches end of file\n"
           "  --transcript FILE      append every received line to FILE, control\n"
           "                         bytes as <ENQ> and <CAN>\n"
           "  --flash-dump FILE      write the flashed image to FILE on every\n"
           "                         validity marker and restart\n"
           "  --idn TEXT             reply to *IDN? (default: Velmora VelmoraMCU\n"
           "                         HQL3318 DemoBoard,SIM,1.0)\n"
           "  --version HEX          version in the VER reply (default 0104)\n"
           "  --build-date TEXT      build date in the VER reply\n"
           "                         (default: Thu Dec 10 05:17:31 2026)\n"
           "  --error NAME           answer NAME:err to every set or get of NAME\n"
           "                         (repeatable; *IDN? is a name here too)\n"
           "  --error-once NAME      answer NAME:err to the first set or get of NAME\n"
           "                         only (repeatable)\n"
           "  --delay MS             wait MS before each reply line\n"
           "  --baud N               pace both directions at N baud, 10 bits a byte\n"
           "  --latency MS           hold each USB transfer MS in each direction, as an\n"
           "                         adapter's latency timer does\n"
           "  --restart-ms MS        silence after six CAN bytes (default 300)\n"
           "  --silent-after N       answer nothing after N command lines\n"
           "  --garbage-after N      send a burst of junk bytes after the reply to\n"
           "                         command line N\n"
           "  --hangup-after N       hang up and exit when command line N+1 arrives\n"
           "  --enq-reply BYTE       answer ENQ with BYTE instead of ACK (e.g. 0x15)\n"
           "  --big-reply N          get BIG answers one line of N bytes\n"
           "  --seed N               seed of the analog noise (default 1)\n"
           "  --chip-registers       get chipCR0 .. chipCR14, chipCR5A .. chipCR8B\n"
           "                         answer the chip's stored control registers\n"
           "  --count-round-trips    write <ROUND TRIP> to the transcript before each\n"
           "                         write from the PC that follows an answer\n"
           "  --help                 show this text\n";
}
