// The simulated electricity meter on a line: it waits for the IEC 62056-21
// sign-on "/?" + address + "!" CR LF and, for its own address or an empty
// one, answers with its identification line and data block after a short
// response time, always at the pace of its line.  Its readings are those of
// the meter with the same ID behind the simulated gateway.
#pragma once

#include "sim/link_common.h"
#include "sim/meter.h"

#include <memory>

namespace qvxsim {

struct MeterOptions {
    QString address = QStringLiteral("12345678");
    // 9600 baud, 7 data bits, even parity: 10 bits a character.
    LineSettings line{9600, 'E', 7, 1};
    // Time between the end of the request and the first byte of the answer.
    int responseMs = 200;
    QByteArray identification = "/QVX5SIMMETER";
    FrameMonitor monitor;
};

class MeterLink : public QObject {
    Q_OBJECT
public:
    MeterLink(Device &device, const MeterOptions &options = {}, QObject *parent = nullptr);
    ~MeterLink() override;

    bool openPty(const QString &symlinkPath = QString());
    bool openSerial(const QString &device);
    void close();
    // The pseudo-terminal's slave device (empty on a serial port).
    QString slavePath() const;
    QString errorString() const { return error_; }
    // Sign-ons answered so far.
    int answers() const { return answers_; }

    // The answer this meter gives now.
    QByteArray answer();

private:
    void attach(ByteChannel *channel);
    void onReceived(const QByteArray &bytes);

    Device &device_;
    MeterOptions options_;
    std::unique_ptr<ByteChannel> channel_;
    std::unique_ptr<Transmitter> transmitter_;
    QByteArray buffer_;
    QString error_;
    int answers_ = 0;
};

} // namespace qvxsim
