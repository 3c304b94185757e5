#pragma once

#include <QString>

// Takes a string libobs allocated: returns it as a QString (empty for null)
// and frees it with bfree, so no caller repeats the pairing.
QString takeObsString(char *text);
