// The runner's command line.
#pragma once

#include <string>

// How the script's Yes/No/Cancel questions are answered.
enum class Answer { Ask, Yes, No, Cancel };

struct Options {
    std::string image;       // the firmware image, as given
    unsigned long count = 0; // boards to finish before ending; 0: until interrupted
    Answer answer = Answer::Ask;
    bool plain = false;  // timestamped lines even on a terminal
    std::string logPath; // the lines are appended there too; empty: no log
    // The longest one call of the tool script may run, in seconds (its Init,
    // its FEL half, its FES half); 0: the plug-in's own limit.
    unsigned long scriptLimit = 0;
    bool help = false;
};

// Parses the arguments after the program name. False, with a message in
// `error`, on a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// The text of --help.
extern const char kHelpText[];
