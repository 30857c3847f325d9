#include "settings/CAbsPropertyReader.h"

void CAbsPropertyReader::Close() { Opened = false; }
