#include "platform/host_lookup.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QObject>

namespace platform {

struct HostLookup::Impl {
    int id = -1;
    unsigned generation = 0;  // an abandoned look-up's answer is dropped
    QObject* context = nullptr;
};

HostLookup::HostLookup() : impl_(std::make_unique<Impl>()) {}

HostLookup::~HostLookup() {
    if (impl_->id >= 0) QHostInfo::abortHostLookup(impl_->id);
    delete impl_->context;
}

void HostLookup::Abandon() {
    if (impl_->id >= 0) QHostInfo::abortHostLookup(impl_->id);
    impl_->id = -1;
    ++impl_->generation;
    // Later, not now: Abandon may run inside the context's own callback.
    if (impl_->context) impl_->context->deleteLater();
    impl_->context = nullptr;
}

void HostLookup::Lookup(const std::string& host,
                        std::function<void(std::string ip, std::string error)> done) {
    Abandon();
    impl_->context = new QObject();
    Impl* impl = impl_.get();
    const unsigned generation = impl_->generation;
    impl_->id =
        QHostInfo::lookupHost(QString::fromStdString(host), impl_->context,
                              [impl, generation, done = std::move(done)](const QHostInfo& info) {
                                  if (impl->generation != generation) return;
                                  impl->id = -1;
                                  if (info.error() == QHostInfo::NoError) {
                                      for (const QHostAddress& a : info.addresses()) {
                                          if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                                              done(a.toString().toStdString(), "");
                                              return;
                                          }
                                      }
                                      done("", "No IPv4 address");
                                      return;
                                  }
                                  done("", info.errorString().toStdString());
                              });
}

}  // namespace platform
