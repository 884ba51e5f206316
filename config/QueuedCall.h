#pragma once
// A call handed from a worker thread to an object of the main thread.

#include <functional>

class QEvent;
class QObject;

// QCoreApplication::postEvent, under the one lock every post of this program takes: Qt's queue
// takes the posts of many threads under a lock ThreadSanitizer cannot see, and grows its list with
// a realloc it does see, so the posts of every thread, the main one too, go through here.
void PostEvent(QObject* receiver, QEvent* event);

// Runs `call` from the main thread's event loop, unless `receiver` (an object of the main
// thread) is gone by then: what QMetaObject::invokeMethod(receiver, call, Qt::QueuedConnection)
// does. Qt's event queue orders everything the worker did before with the call, but its locks
// lie inside Qt, where ThreadSanitizer cannot see them; this call is built and handed over where
// it can.
void QueueCall(QObject* receiver, std::function<void()> call);
