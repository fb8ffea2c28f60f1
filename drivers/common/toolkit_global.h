#ifndef TOOLKIT_GLOBAL_H
#define TOOLKIT_GLOBAL_H

#include <QtGlobal>

// The library is built with hidden visibility; only what the runtime and
// other drivers link against carries this mark.
#define TOOLKIT_EXPORT Q_DECL_EXPORT

#endif // TOOLKIT_GLOBAL_H
