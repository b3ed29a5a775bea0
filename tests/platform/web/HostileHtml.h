#pragma once

// Pages shaped to make a page reader slow: each is one pattern repeated to a given length, most
// of them followed by the title "10000". Shared by the page-reading test and its benchmark.

#include <functional>

#include <QElapsedTimer>
#include <QList>
#include <QString>

namespace hostilehtml {

struct Shape {
    const char* name;
    // A page of about `chars` characters.
    std::function<QString(qsizetype chars)> page;
    // The title a reader must find in it; a null string where there is none to find.
    std::function<QString(qsizetype chars)> title;
};

// The quickest of `runs` runs of `read`, in milliseconds: the others say more about the
// machine's load than about the reader.
template <typename Read>
double quickestMs(int runs, Read read) {
    double best = -1;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        read();
        const double ms = clock.nsecsElapsed() / 1e6;
        best = best < 0 ? ms : qMin(best, ms);
    }
    return best;
}

inline QString repeated(const QString& unit, qsizetype chars) {
    return unit.repeated(qMax<qsizetype>(1, chars / unit.size()));
}

inline QList<Shape> shapes() {
    const QString tail = QStringLiteral("<title>10000</title>");
    const auto then10000 = [tail](const QString& unit) {
        return Shape{nullptr, [unit, tail](qsizetype n) { return repeated(unit, n) + tail; },
                     [](qsizetype) { return QStringLiteral("10000"); }};
    };
    const auto swallowed = [tail](const QString& opener, const QString& unit) {
        return Shape{nullptr, [=](qsizetype n) { return opener + repeated(unit, n) + tail; },
                     [](qsizetype) { return QString(); }};
    };
    const auto named = [](const char* name, Shape s) {
        s.name = name;
        return s;
    };
    const QString entities = QStringLiteral("&amp;&#49;&notin;&bogusbogus;&aaaaaaaaaaaaaaaaaaaaaa");
    const QString entitiesRead = QStringLiteral("&1\u2209&bogusbogus;&aaaaaaaaaaaaaaaaaaaaaa");
    return {
        named("many comments", then10000(QStringLiteral("<!-- c -->"))),
        named("comment never closed",
              swallowed(QStringLiteral("<!--"), QStringLiteral("- -- --! <!-- -"))),
        named("'<' flood", then10000(QStringLiteral("<"))),
        named("'</' flood", swallowed(QString(), QStringLiteral("</"))),
        named("attribute flood", Shape{nullptr,
                                       [tail](qsizetype n) {
                                           return QStringLiteral("<p") +
                                                  repeated(QStringLiteral(" a=1 b='2>' c=\"3\" d"),
                                                           n) +
                                                  QStringLiteral(">") + tail;
                                       },
                                       [](qsizetype) { return QStringLiteral("10000"); }}),
        named("quoted attribute never closed",
              swallowed(QStringLiteral("<p a=\""), QStringLiteral("x> <b "))),
        named("deep nesting", then10000(QStringLiteral("<div><b><i><a href=x><li>"))),
        named("many end tags", then10000(QStringLiteral("</div></b></p></x y>"))),
        named("entity flood in the text", then10000(entities)),
        named("entity flood in the title",
              Shape{nullptr,
                    [entities](qsizetype n) {
                        return QStringLiteral("<title>") + repeated(entities, n) +
                               QStringLiteral("</title>");
                    },
                    [entities, entitiesRead](qsizetype n) {
                        return entitiesRead.repeated(repeated(entities, n).size() /
                                                     entities.size());
                    }}),
        named("script never closed",
              swallowed(QStringLiteral("<script>"), QStringLiteral("</scrip </ x<title>"))),
        named("a title as long as the page",
              Shape{nullptr,
                    [](qsizetype n) {
                        return QStringLiteral("<title>") + repeated(QStringLiteral("1 0 "), n) +
                               QStringLiteral("</title>");
                    },
                    [](qsizetype n) { return repeated(QStringLiteral("1 0 "), n); }}),
        named("nested templates",
              Shape{nullptr,
                    [tail](qsizetype n) {
                        return repeated(QStringLiteral("<template><title>1</title>"), n / 2) +
                               repeated(QStringLiteral("</template>"), n / 2) + tail;
                    },
                    [](qsizetype) { return QStringLiteral("10000"); }}),
        named("deep drawing and stray end tags",
              Shape{nullptr,
                    [tail](qsizetype n) {
                        return QStringLiteral("<svg>") +
                               repeated(QStringLiteral("<g><text>"), n / 2) +
                               repeated(QStringLiteral("</nope>"), n / 2) +
                               QStringLiteral("</svg>") + tail;
                    },
                    [](qsizetype) { return QStringLiteral("10000"); }}),
        named("long link around flipping bold",
              Shape{nullptr,
                    [tail](qsizetype n) {
                        return QStringLiteral("<a href=\"") + QString(2000, u'x') +
                               QStringLiteral("\">") + repeated(QStringLiteral("<b>x</b>y"), n) +
                               tail;
                    },
                    [](qsizetype) { return QStringLiteral("10000"); }}),
    };
}

}  // namespace hostilehtml
