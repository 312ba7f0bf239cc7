#pragma once

#include <Qt>

// The application-wide cursor override is one setting, not a stack: the first
// call sets it, later calls replace it.
void fijaCursorAplicacion(Qt::CursorShape forma);
