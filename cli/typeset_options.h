#pragma once
// The command line's options for typeset pages and device presets, in one table
// of their own beside the classic options.
#include <QCommandLineParser>

#include "generator/formats.h"
#include "generator/headless_host.h"

namespace pagiro {

void add_typeset_options(QCommandLineParser& parser);
// The help lines of these options.
const char* typeset_usage();

// --list-devices: the table is printed instead of a run.
bool devices_listed(const QCommandLineParser& parser);
// The layout asked for; a book is typeset unless --layout says classic.
LayoutMode layout_option(const QCommandLineParser& parser);
// The book format the host's settings name; nothing for loose pages.
const PageFormat* book_format(const HeadlessHost& host);

// After the classic options are in the host: the layout, the typeset settings,
// and the page size, face, font size and format a device or typeset pages bring
// where the user gave none. Throws UsageError for a bad value.
void apply_typeset_options(const QCommandLineParser& parser, HeadlessHost& host);

}  // namespace pagiro
