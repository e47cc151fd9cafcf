#include "PastedLines.h"

#include "CommandLineText.h"

namespace {

// How many of the lines that cannot go the refusal names; the preview shows them all.
constexpr int kFaultsNamed = 3;

} // namespace

PastedLines::PastedLines(const QString& text) {
    qsizetype start = 0;
    const auto take = [&](qsizetype end) {
        if (end == start)
            ++emptyLines_;
        else
            lines_ << text.mid(start, end - start);
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\n' && c != u'\r')
            continue;
        hadLineBreak_ = true;
        take(i);
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        take(text.size());

    if (lines_.size() > kMaxLines) {
        refusal_ = QStringLiteral("The paste holds %1 lines, more than one paste may send (%2): "
                                  "nothing sent.")
                       .arg(lines_.size())
                       .arg(kMaxLines);
        return;
    }
    QStringList faults;
    int unnamed = 0;
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const QString fault = CommandLineText::Fault(lines_[i]);
        if (fault.isEmpty())
            continue;
        if (faults.size() < kFaultsNamed)
            faults << QStringLiteral("Line %1: %2.").arg(i + 1).arg(fault);
        else
            ++unnamed;
    }
    if (faults.isEmpty())
        return;
    if (unnamed > 0)
        faults << QStringLiteral("%1 more line%2 cannot go either.")
                      .arg(unnamed)
                      .arg(unnamed == 1 ? "" : "s");
    faults << QStringLiteral("A paste goes whole or not at all: nothing sent.");
    refusal_ = faults.join(u'\n');
}

QString PastedLines::question(const QString& serverName) const {
    QString question = QStringLiteral("Send %1 line%2 to the %3 console?")
                           .arg(lines_.size())
                           .arg(lines_.size() == 1 ? "" : "s")
                           .arg(serverName);
    if (emptyLines_ > 0)
        question += QStringLiteral(" (%1 empty line%2 left out)")
                        .arg(emptyLines_)
                        .arg(emptyLines_ == 1 ? "" : "s");
    return question;
}

QString PastedLines::preview() const {
    const qsizetype shown = std::min<qsizetype>(lines_.size(), kMaxLines);
    const int width = int(QString::number(shown).size());
    QStringList preview;
    for (qsizetype i = 0; i < shown; ++i) {
        QString line = CommandLineText::ShowControlCharacters(lines_[i]);
        if (line.size() > CommandLineText::kMaxLineBytes) {
            const qsizetype more = line.size() - CommandLineText::kMaxLineBytes;
            line.truncate(CommandLineText::kMaxLineBytes);
            line += QStringLiteral(" [\u2026 %1 more characters]").arg(more);
        }
        preview << QStringLiteral("%1  %2").arg(i + 1, width).arg(line);
    }
    if (lines_.size() > shown)
        preview << QStringLiteral("[\u2026 %1 more lines]").arg(lines_.size() - shown);
    return preview.join(u'\n');
}
