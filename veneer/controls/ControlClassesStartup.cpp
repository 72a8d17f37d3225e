// Compiled into every program that links the controls library (an
// interface source), so that the layout builder knows the library's element
// names from the start without the program naming any of its classes.
#include "ControlClasses.h"

namespace {
struct ControlClassesAtStartup {
    ControlClassesAtStartup() { Veneer::RegisterControlClasses(); }
} g_controlClassesAtStartup;
}  // namespace
