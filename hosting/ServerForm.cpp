#include "hosting/ServerForm.h"

#include <sys/prctl.h>
#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <exception>
#include <memory>

#include "hosting/CMovieServer.h"
#include "hosting/Channel.h"
#include "hosting/Log.h"
#include "platform/ipc/MessagePort.h"

namespace quorvex {
namespace {

// A client that does not connect in this time after the start event never will.
constexpr int kAttachDeadlineMs = 15000;

}  // namespace

ServerForm::ServerForm()
    : port_(std::make_unique<ipc::MessagePort>(
          [this](const ipc::Message& m) { return WndProc(m); })) {
  connect(port_.get(), &ipc::MessagePort::ownerLost, this, &ServerForm::Close);
  connect(port_.get(), &ipc::MessagePort::ownerAttached, this, &ServerForm::attached);
}

ServerForm::~ServerForm() {
  movie_server_.reset();  // the engine and the channel go before the window
  port_.reset();
}

int32_t ServerForm::handle() const {
  return port_->handle();
}

bool ServerForm::ServerForm_Load(const QStringList& arguments) {
  if (arguments.size() < 3)
    return false;
  try {
    movie_server_ = std::make_unique<CMovieServer>(handle(), arguments.at(2).toStdString());
  } catch (const ChannelOpenError& e) {
    qCWarning(ChannelLog, "no channel for this server: %s", e.what());
    return false;
  }
  return true;
}

int64_t ServerForm::WndProc(const ipc::Message& message) {
  if (!channel::IsCommand(message.code) || !movie_server_)
    return 0;
  if (message.code == channel::kClose) {
    Close();
  } else {
    movie_server_->Dispatch(int32_t(message.code));
  }
  return 0;
}

void ServerForm::Close() {
  if (closing_)
    return;
  closing_ = true;
  // The reply to the close command goes out when WndProc returns; the loop ends after that.
  QTimer::singleShot(0, this, [this] { emit closed(); });
}

int RunServer(int argc, char** argv) {
  // If the user-interface process dies before it has attached, nobody else will end us.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  QCoreApplication app(argc, argv);
  std::unique_ptr<ServerForm> made;
  try {
    made = std::make_unique<ServerForm>();
  } catch (const std::exception& e) {
    // No window: the client sees us end before we were ready and tells its user.
    qCWarning(ChannelLog, "no window for this server: %s", e.what());
    return 1;
  }
  ServerForm& form = *made;
  if (!form.ServerForm_Load(QCoreApplication::arguments()))
    return 1;  // said why
  QObject::connect(&form, &ServerForm::closed, &app, &QCoreApplication::quit);
  QTimer attach_deadline;
  attach_deadline.setSingleShot(true);
  QObject::connect(&attach_deadline, &QTimer::timeout, &app, [] {
    qCWarning(ChannelLog, "the client did not attach in time: this server ends");
    QCoreApplication::exit(1);
  });
  QObject::connect(&form, &ServerForm::attached, &attach_deadline, &QTimer::stop);
  attach_deadline.start(kAttachDeadlineMs);
  return app.exec();
}

}  // namespace quorvex
