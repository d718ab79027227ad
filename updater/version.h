#pragma once

#include <QString>

// "1.1.0.9.0.5": the program's version and three numbers more (set in CMakeLists.txt).
QString toolVersion();
