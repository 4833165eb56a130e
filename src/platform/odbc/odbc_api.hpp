#pragma once
// The ODBC API. Windows' ODBC headers need the Windows types declared first.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
