#ifndef SERVOSIMOPTIONS_H
#define SERVOSIMOPTIONS_H

// servosim's command-line words: its description and options for the
// parser, --help as a person reads it, and the shell completion made from
// the same options. Called from main() only, before anything is opened.
#include <QCommandLineParser>

// The description, --help and --version.
void describe(QCommandLineParser &parser);
// The options, and the hidden --completion.
void addOptions(QCommandLineParser &parser);
// Prints --help naming the program as typed; 0.
int printHelp(const QCommandLineParser &parser);
// servosim --completion bash.
QString bashCompletion();

#endif // SERVOSIMOPTIONS_H
