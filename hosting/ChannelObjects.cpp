#include "hosting/ChannelObjects.h"

#include "hosting/Channel.h"

namespace quorvex::channel {

Objects Objects::Create(const std::string& id) {
  Objects o;
  o.start_event = ipc::NamedEvent::Create(StartEventName(id));
  if (!o.start_event)
    return {};  // the names are someone else's: leave them
  o.param_map = ipc::SharedBlock::Create(ParamMapName(id), kBlockBytes);
  if (o.param_map)
    o.return_map = ipc::SharedBlock::Create(ReturnMapName(id), kBlockBytes);
  if (o.complete())
    return o;
  RemoveNames(id);
  return {};
}

Objects Objects::Open(const std::string& id) {
  Objects o;
  o.start_event = ipc::NamedEvent::Open(StartEventName(id));
  o.param_map = ipc::SharedBlock::Open(ParamMapName(id), kBlockBytes);
  o.return_map = ipc::SharedBlock::Open(ReturnMapName(id), kBlockBytes);
  return o.complete() ? std::move(o) : Objects{};
}

void RemoveNames(const std::string& id) {
  ipc::NamedEvent::Unlink(StartEventName(id));
  ipc::SharedBlock::Unlink(ParamMapName(id));
  ipc::SharedBlock::Unlink(ReturnMapName(id));
}

}  // namespace quorvex::channel
