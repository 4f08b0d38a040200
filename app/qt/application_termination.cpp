#include "app/qt/application_termination.h"

#include <QCoreApplication>

namespace {
bool terminationRequested = false;
}

void RequestApplicationTermination() {
    terminationRequested = true;
    // Ends the main loop once the handler chain has unwound into it; nested
    // event processing inside handlers goes on until then.
    QCoreApplication::exit(0);
}

bool ApplicationTerminationRequested() { return terminationRequested; }
