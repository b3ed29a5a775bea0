// libFuzzer target for the RTF reader. Not part of the normal build; see docs/fuzzing.md.
//
// Every input is read twice: as it stands (which exercises the refusal of non-RTF data) and
// behind an RTF signature, so that the fuzzer does not have to rediscover "{\rtf" before it
// reaches the reader proper. Each copy sits in a buffer of exactly its own size, so that reading
// a single byte past the end is caught. The resulting document is then laid out, since the view
// hands whatever the reader made to Qt's layout.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <QByteArray>
#include <QGuiApplication>
#include <QTextDocument>

#include "FuzzSupport.h"
#include "platform/richtext/RichText.h"

namespace {

void readExactly(const char* bytes, size_t size) {
    std::unique_ptr<char[]> copy(new char[size ? size : 1]);
    if (size)
        std::memcpy(copy.get(), bytes, size);
    const QByteArray data = QByteArray::fromRawData(copy.get(), static_cast<qsizetype>(size));
    QTextDocument document;
    if (!platform::readRtf(data, &document))
        return;
    // Small documents only: layout is Qt's work, and slow; what matters is that nothing the
    // reader produces upsets it.
    if (size < 256)
        (void)document.size();
    (void)document.toPlainText();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::startQt<QGuiApplication>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    readExactly(bytes, size);
    static const char kSignature[] = "{\\rtf1 ";
    const size_t head = sizeof kSignature - 1;
    std::unique_ptr<char[]> withSignature(new char[head + size]);
    std::memcpy(withSignature.get(), kSignature, head);
    if (size)
        std::memcpy(withSignature.get() + head, bytes, size);
    readExactly(withSignature.get(), head + size);
    return 0;
}
