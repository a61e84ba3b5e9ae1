#pragma once

#include <QtCore/qglobal.h>

#if defined(VENTARI_LIBRARY)
#  define VENTARI_EXPORT Q_DECL_EXPORT
#else
#  define VENTARI_EXPORT Q_DECL_IMPORT
#endif
