#include "pipe/connection_context.h"

namespace ironbark {
namespace {
thread_local const ConnectionContext* t_connection = nullptr;
}  // namespace

const ConnectionContext* CurrentConnection() { return t_connection; }

ScopedConnectionContext::ScopedConnectionContext(const ConnectionContext& context)
    : previous_(t_connection) {
  t_connection = &context;
}

ScopedConnectionContext::~ScopedConnectionContext() { t_connection = previous_; }

}  // namespace ironbark
