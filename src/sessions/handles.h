// What the opaque handles of the C interface are: the host's reference to an engine, and a session.
#ifndef INFERLET_SESSIONS_HANDLES_H_
#define INFERLET_SESSIONS_HANDLES_H_

#include <memory>

#include "engine.h"
#include "session.h"

struct inferlet_engine {
  std::shared_ptr<sessions::Engine> engine;
};

struct inferlet_session {
  std::unique_ptr<sessions::Session> session;
};

#endif  // INFERLET_SESSIONS_HANDLES_H_
