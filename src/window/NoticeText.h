#pragma once

#include <QString>

// The notice that the message pane shows until the servers are first started: authorship, no
// warranty, advice to save often, and agreement by starting. Paragraphs are separated by blank
// lines.
QString noticeText();
