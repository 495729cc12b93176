#include "platform/http_get.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "platform/dispatch.h"

namespace platform {

HttpResult HttpGet(const std::string& url, int timeoutMs,
                   const std::function<bool(int64_t, int64_t)>& progress, int64_t maxBytes) {
    HttpResult result;
    const QUrl address(QString::fromStdString(url));
    if (!address.isValid() || (address.scheme() != "https" && address.scheme() != "http")) {
        result.error = "Not an http or https address: " + url;
        return result;
    }
    QNetworkAccessManager manager;
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    std::string why;
    qint64 lastReceived = 0;
    qint64 lastTotal = -1;
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 received, qint64 total) {
                         if (!why.empty()) return;
                         lastReceived = received;
                         lastTotal = total;
                         if (received > maxBytes) {
                             why = "The file is larger than expected.";
                         } else {
                             detail::DispatchScope scope;
                             if (progress && !progress(received, total)) why = "Cancelled.";
                         }
                         if (!why.empty()) reply->abort();
                     });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A cancel must work while the server sends nothing, too.
    QTimer poll;
    poll.setInterval(200);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!why.empty() || !progress) return;
        detail::DispatchScope scope;
        if (!progress(lastReceived, lastTotal)) {
            why = "Cancelled.";
            reply->abort();
        }
    });
    poll.start();
    // The whole exchange is bounded too, not only each silent stretch.
    QTimer::singleShot(timeoutMs, &loop, [&] {
        if (why.empty()) why = "Timed out.";
        reply->abort();
    });
    if (!reply->isFinished()) loop.exec();
    if (!why.empty()) {
        result.error = why;
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString().toStdString();
    } else {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status != 0 && (status < 200 || status > 299)) {
            result.error = "The server answered " + std::to_string(status) + ".";
        } else {
            const QByteArray body = reply->readAll();
            result.body.assign(body.constData(), static_cast<size_t>(body.size()));
            result.ok = true;
        }
    }
    reply->deleteLater();
    return result;
}

}  // namespace platform
