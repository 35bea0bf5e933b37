#pragma once

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "platform/ipc/Message.h"

namespace quorvex {

class CMovieServer;
namespace ipc {
class MessagePort;
}

// The server process's only window: the target of the client's commands. It shows nothing;
// the video is drawn into the client's panel. Lives on the server's main thread.
class ServerForm : public QObject {
  Q_OBJECT
 public:
  ServerForm();
  ~ServerForm() override;

  // Reads the channel identifier (third element of `arguments`: program, "/s", id) and opens
  // the channel. False when there is no such channel: the process should end at once.
  bool ServerForm_Load(const QStringList& arguments);

  int32_t handle() const;

 signals:
  // The client has connected to this window.
  void attached();
  // The close command was answered, or the client has gone: the process should end.
  void closed();

 private:
  int64_t WndProc(const ipc::Message& message);
  void Close();

  std::unique_ptr<ipc::MessagePort> port_;
  std::unique_ptr<CMovieServer> movie_server_;
  bool closing_ = false;
};

// The server role's message loop: returns the process exit code.
int RunServer(int argc, char** argv);

}  // namespace quorvex
