#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char kHelpText[]
    = "usage: vemora-cli [options] IMAGE\n"
      "\n"
      "Flashes the firmware image IMAGE into boards, one after another, without a\n"
      "window: plug a board in FEL and it is taken through FEL and FES by the\n"
      "image's tool script, exactly as the window Vemora does it.\n"
      "\n"
      "Options:\n"
      "  --count N    end once N boards have finished (well or not); without it\n"
      "               the runner goes on until it is interrupted\n"
      "  --yes        answer every question of the tool script with Yes\n"
      "  --no         answer every question with No\n"
      "  --cancel     answer every question with Cancel\n"
      "               (without one of these a question is asked on the terminal;\n"
      "               with no terminal to ask it is answered Cancel)\n"
      "  --plain      timestamped lines instead of progress bars, also on a\n"
      "               terminal (always so when the output is not a terminal)\n"
      "  --log FILE   append the timestamped lines to FILE as well\n"
      "  --script-limit S\n"
      "               end the tool script when one of its calls (its start, the\n"
      "               FEL half, the FES half) runs longer than S seconds; the\n"
      "               board then fails and the next one is taken (default: the\n"
      "               plug-in's limit of one hour)\n"
      "  -h, --help   this text\n"
      "\n"
      "Output: on a terminal one progress bar per run (percentage, the script's\n"
      "text, write rate and time left); otherwise one timestamped line per event.\n"
      "Each board ends with a summary line: its number, the DeviceId the plug-in\n"
      "gave its FES half, ok or FAILED with the reason, and how long its FEL half,\n"
      "the wait for its return in FES and its FES half took. A last line sums up\n"
      "all boards. A board ended well only when its run reached its end report\n"
      "with no error and its FES half ended with result 0.\n"
      "\n"
      "Ctrl-C (or SIGTERM) ends between boards: a board in flight is finished\n"
      "first (the runner says which). A second one ends at once. Boards plugged\n"
      "in while the runner is ending are left untouched.\n"
      "\n"
      "Exit status:\n"
      "  0  every board ended well (and N boards finished, with --count)\n"
      "  1  a board failed, or was cut off by a second Ctrl-C\n"
      "  2  bad command line\n"
      "  3  could not start: image missing or unreadable or refused, plug-in\n"
      "     missing, or another runner working in the same folder\n"
      "  4  interrupted before N boards finished; every board so far ended well\n"
      "\n"
      "The runner loads pluginhub.dll and, through it, VemoProc.Plg from its own\n"
      "folder, and works in that folder as the window does (one runner per\n"
      "folder: the plug-in keeps its work files there). When a board's node\n"
      "cannot be opened for lack of permission, it names the udev rule\n"
      "60-vemora.rules (beside the program) that gives the boards' nodes to the\n"
      "group plugdev, and how to install it.\n";

namespace {

// The plug-in takes the limit in milliseconds, as a 32-bit number.
constexpr unsigned long kMaxScriptLimit = 4294967;

// A whole decimal number from 1 up.
bool ParseCount(const std::string& text, unsigned long& count)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value == 0)
        return false;
    count = value;
    return true;
}

bool SetAnswer(Options& options, Answer answer, std::string& error)
{
    if (options.answer != Answer::Ask && options.answer != answer) {
        error = "--yes, --no and --cancel exclude each other";
        return false;
    }
    options.answer = answer;
    return true;
}

} // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error)
{
    bool imageSeen = false;
    bool optionsEnd = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            if (imageSeen) {
                error = "one image only (\"" + options.image + "\" and \"" + arg + "\")";
                return false;
            }
            options.image = arg;
            imageSeen = true;
            continue;
        }
        // "--name=value" or "--name value" for the options that take one.
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        const size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        const bool takesValue = name == "--count" || name == "--log" || name == "--script-limit";
        if (takesValue && !hasValue) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            hasValue = true;
        } else if (!takesValue && hasValue) {
            error = name + " takes no value";
            return false;
        }

        if (name == "--") {
            optionsEnd = true;
        } else if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--count") {
            if (!ParseCount(value, options.count)) {
                error = "--count needs a whole number from 1 up, not \"" + value + "\"";
                return false;
            }
        } else if (name == "--script-limit") {
            if (!ParseCount(value, options.scriptLimit) || options.scriptLimit > kMaxScriptLimit) {
                error = "--script-limit needs a number of seconds from 1 to "
                    + std::to_string(kMaxScriptLimit) + ", not \"" + value + "\"";
                return false;
            }
        } else if (name == "--log") {
            if (value.empty()) {
                error = "--log needs a file name";
                return false;
            }
            options.logPath = value;
        } else if (name == "--plain") {
            options.plain = true;
        } else if (name == "--yes" || name == "--no" || name == "--cancel") {
            const Answer answer = name == "--yes" ? Answer::Yes
                : name == "--no"                  ? Answer::No
                                                  : Answer::Cancel;
            if (!SetAnswer(options, answer, error))
                return false;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    if (!imageSeen && !options.help) {
        error = "no image given";
        return false;
    }
    return true;
}
