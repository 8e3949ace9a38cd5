// The target file of qvxctl --targets: any bytes give targets or one error
// line, never a crash; every target has one link, a unit in range, a name
// and a line; no two name the same gateway unless duplicates are allowed;
// an error quotes the input cut short; output patterns give every target its
// own file when they hold {name}.
#include "gateway/gateway_format.h"

#include <QSet>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const QByteArray &bytes, bool allowDuplicates)
{
    const qvx::TargetList list = qvx::parseTargetFile(bytes, qvx::GatewayLink{}, allowDuplicates);
    if (list.error.has_value() == !list.targets.isEmpty())
        std::abort();
    // "line N: " and a few words around at most two cut quotes.
    if (list.error && list.error->size() > 400)
        std::abort();
    QSet<QString> gateways, names;
    int line = 0;
    for (const qvx::Target &t : list.targets) {
        const qvx::GatewayLink &l = t.link;
        if ((!l.tcp && l.serialPort.isEmpty()) || (l.tcp && l.host.isEmpty()) || l.unit < 1 || l.unit > 247 ||
            l.port < 1 || l.port > 65535)
            std::abort();
        if (t.line <= line || t.name.isEmpty() || names.contains(t.name))
            std::abort();
        line = t.line;
        names.insert(t.name);
        if (!allowDuplicates && gateways.contains(qvx::gatewayKey(l)))
            std::abort();
        gateways.insert(qvx::gatewayKey(l));
    }
    if (!list.targets.isEmpty() &&
        qvx::outputCollision(QStringLiteral("-o"), QStringLiteral("out/{name}.csv"), list.targets))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    check(bytes, false);
    check(bytes, true);
    // The first line as an output pattern: a field it names is refused or
    // expanded, never left to chance. The target is a real one: an empty host
    // would let "{n{host}ame}" spell a field out of literal text.
    const QString pattern = QString::fromLatin1(bytes.left(bytes.indexOf('\n')));
    qvx::Target target;
    target.name = QStringLiteral("t");
    target.line = 1;
    target.link.tcp = true;
    target.link.host = QStringLiteral("h");
    target.link.port = 502;
    target.link.unit = 1;
    if (!qvx::outputPatternError(pattern) &&
        qvx::expandOutputPattern(pattern, target).contains(QLatin1String("{name}")))
        std::abort();
    return 0;
}
