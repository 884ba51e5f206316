#pragma once
// A call handed from a worker thread to an object of the main thread.

#include <functional>

class QObject;

// Runs `call` from the main thread's event loop, unless `receiver` (an object of the main
// thread) is gone by then: what QMetaObject::invokeMethod(receiver, call, Qt::QueuedConnection)
// does. Qt's event queue orders everything the worker did before with the call, but its locks
// lie inside Qt, where ThreadSanitizer cannot see them; this call is built and handed over where
// it can.
void QueueCall(QObject* receiver, std::function<void()> call);
