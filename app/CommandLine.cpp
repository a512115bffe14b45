#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

#ifndef SORVANTO_VERSION
#error "SORVANTO_VERSION is set by the build from the project's version"
#endif

namespace sorvanto {

std::optional<int> AnswerInformationOptions(int& argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    // Qt's own options are single-dash words (-platform, -style, -reverse): read as compacted
    // letters, -reverse would count as -v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Corrects the rows of the KEY_WORDS and MEMO tables of a Firebird "
                       "database.\nQt's own options (-platform, -style, ...) are accepted too."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this usage and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the name and version and ends."));
    parser.addOption(help);
    parser.addOption(version);
    // Options it does not know are Qt's or a mistake; either way the program starts as usual.
    (void)parser.parse(arguments);

    if (parser.isSet(version)) {
        std::fputs("Sorvanto " SORVANTO_VERSION "\n", stdout);
        return 0;
    }
    if (parser.isSet(help)) {
        // Only for the program's name in the usage line; a core application needs no display.
        QCoreApplication core(argc, argv);
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace sorvanto
