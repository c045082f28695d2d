// The diagnostic log: a "DEBUG:" line on standard error for every message, and a
// time-stamped record in /tmp/VelPrinter/VelPrinterLog.log while /tmp/VelPrinter exists.
#pragma once

// Control characters of the message but the tab are written as escapes
// (EscapeControls), so that each message is one line; a message longer than
// 2046 characters after that is cut to its first 2046.
void DbgMsg(const char *szMsgFormat, ...) __attribute__((format(printf, 1, 2)));

// The switch directory to use instead of /tmp/VelPrinter (nullptr restores it),
// set by each run from its settings: the log is the process's, like standard
// error.  The string must outlive every DbgMsg call made while it is set.
void SetDebugLogDir(const char *dir);
