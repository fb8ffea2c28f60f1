#include "completion.h"

#include <QMap>
#include <QRegularExpression>

#include "address.h"
#include "commands.h"
#include "options.h"
#include "typedvalues.h"
#include "values.h"

namespace {

// The function bash calls. {NAME} fields are filled from the tables: the
// script is written at build time, so that it cannot fall behind them.
const char kScript[] = R"(# bash completion for servoctl, written by servoctl --completion bash
_servoctl_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

_servoctl_files() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

_servoctl_devices() {
    if [[ -n $cur ]]; then
        _servoctl_files
    else
        mapfile -t COMPREPLY < <(compgen -G '/dev/tty[A-Z]*')
    fi
}

_servoctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    # --name=value: bash splits at the "=".
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-1]} cur=
    elif [[ $prev == = ]]; then
        prev=${COMP_WORDS[COMP_CWORD-2]}
    fi
    COMPREPLY=()
    case $prev in
{values}    esac
    if [[ $cur == -* ]]; then
        _servoctl_words '{options}'
        return
    fi
    # The command the word belongs to: the last one named, past options
    # and their values, and "then".
    local valued=' {valued} ' command= word i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == = ]]; then
            ((i++))
        elif [[ $word == -* ]]; then
            [[ $valued == *" $word "* && ${COMP_WORDS[i+1]} != = ]] && ((i++))
        elif [[ $word == then ]]; then
            command=
        elif [[ -z $command ]]; then
            command=$word
        fi
    done
    case $command in
        '') _servoctl_words '{commands}' ;;
{commandcases}    esac
    # An area is followed by its number, not a blank.
    if [[ ${#COMPREPLY[@]} -gt 0 && " {areas} " == *" ${COMPREPLY[0]} "* ]]; then
        compopt -o nospace 2>/dev/null
    fi
}
complete -F _servoctl servoctl
)";

// What completes an option's value: a shell command, or ":" for nothing.
QString valueCompletion(const OptionWord &option)
{
    if (option.values == QLatin1String("FILE"))
        return QStringLiteral("_servoctl_files");
    if (option.values == QLatin1String("DEVICE"))
        return QStringLiteral("_servoctl_devices");
    if (option.values == QLatin1String("FORMAT"))
        return QStringLiteral("_servoctl_words '%1 json'").arg(valueFormatNames().join(QLatin1Char(' ')));
    if (!option.values.isEmpty())
        return QStringLiteral("_servoctl_words '%1'").arg(option.values);
    return QStringLiteral(":");
}

// What follows a command, from its usage in the table: its own words
// (baud, listen, ...), and the areas, types and formats where the usage
// names ADDRESS, TYPE and FORMAT; files for FILE. A placeholder after a
// word or an option is that one's value.
QString commandCase(const CommandEntry &entry)
{
    QStringList tokens = QString::fromLatin1(entry.usage)
                             .remove(QRegularExpression(QStringLiteral("[\\[\\]]|\\.\\.\\.")))
                             .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    tokens.removeFirst();
    QStringList words{QStringLiteral("then")};
    bool files = false;
    const bool writes = tokens.contains(QLatin1String("VALUE"));
    for (int i = 0; i < tokens.size(); ++i) {
        const QString &token = tokens[i];
        const bool placeholder = token == token.toUpper();
        const bool valueOfPrevious = i > 0 && tokens[i - 1] != tokens[i - 1].toUpper();
        const bool valueOfOption = i > 0 && tokens[i - 1].startsWith(QLatin1Char('-'));
        if (token.startsWith(QLatin1Char('-')) || valueOfOption || (placeholder && valueOfPrevious)) {
            continue;
        } else if (!placeholder) {
            words.append(token);
        } else if (token == QLatin1String("ADDRESS")) {
            words += areaNames().split(QStringLiteral(", "));
        } else if (token == QLatin1String("TYPE")) {
            words += dataTypeNames() + (writes ? typedValueNames() : QStringList());
        } else if (token == QLatin1String("FORMAT")) {
            words += valueFormatNames();
        } else if (token == QLatin1String("FILE")) {
            files = true;
        }
    }
    words.removeDuplicates();
    if (files)
        return QStringLiteral("        %1) _servoctl_files ;;\n").arg(QLatin1String(entry.name));
    return QStringLiteral("        %1) _servoctl_words '%2' ;;\n")
        .arg(QLatin1String(entry.name), words.join(QLatin1Char(' ')));
}

} // namespace

QString bashCompletion()
{
    QStringList options{QStringLiteral("-h"), QStringLiteral("--help"), QStringLiteral("--version")};
    QStringList valued;
    QStringList completions; // a case of the script each, its options joined
    QMap<QString, QStringList> optionsOf;
    for (const OptionWord &option : optionWords()) {
        const QStringList spellings = option.shortWord.isEmpty()
                                          ? QStringList{QStringLiteral("--") + option.name}
                                          : QStringList{option.shortWord, QStringLiteral("--") + option.name};
        options += spellings;
        if (!option.takesValue)
            continue;
        valued += spellings;
        const QString completion = valueCompletion(option);
        if (!completions.contains(completion))
            completions.append(completion);
        optionsOf[completion] += spellings;
    }
    QString values;
    for (const QString &completion : completions)
        values += QStringLiteral("        %1) %2; return ;;\n").arg(optionsOf[completion].join(QLatin1Char('|')), completion);
    QStringList commands;
    QString commandCases;
    for (const CommandEntry &entry : commandTable()) {
        commands.append(QLatin1String(entry.name));
        commandCases += commandCase(entry);
    }
    QString script = QString::fromLatin1(kScript);
    script.replace(QLatin1String("{values}"), values);
    script.replace(QLatin1String("{options}"), options.join(QLatin1Char(' ')));
    script.replace(QLatin1String("{valued}"), valued.join(QLatin1Char(' ')));
    script.replace(QLatin1String("{commands}"), commands.join(QLatin1Char(' ')));
    script.replace(QLatin1String("{commandcases}"), commandCases);
    script.replace(QLatin1String("{areas}"), areaNames().split(QStringLiteral(", ")).join(QLatin1Char(' ')));
    return script;
}
