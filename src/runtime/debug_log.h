// The diagnostic log: a "DEBUG:" line on standard error for every message, and a
// time-stamped record in /tmp/VelPrinter/VelPrinterLog.log while /tmp/VelPrinter exists.
#pragma once

void DbgMsg(const char *szMsgFormat, ...) __attribute__((format(printf, 1, 2)));
