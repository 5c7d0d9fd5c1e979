// The user manual that ships with the program: the README rendered to one HTML page.
//   make_manual README.md out/manual.html
// Pictures the README takes from docs/ are looked for beside the page (the build copies
// docs/screenshots/ next to it), so the page can be moved together with that folder.
#include <cstdio>

#include <QFile>
#include <QGuiApplication>
#include <QString>
#include <QTextDocument>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_manual README.md manual.html\n");
    return 2;
  }
  // Rendering needs fonts, and fonts need a GUI application; no display is wanted.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "make_manual: cannot open %s: %s\n", argv[1], qPrintable(in.errorString()));
    return 1;
  }
  QString markdown = QString::fromUtf8(in.readAll());
  markdown.replace("](docs/", "](");

  QTextDocument document;
  document.setMarkdown(markdown);
  document.setMetaInformation(QTextDocument::DocumentTitle, "Chronoreel manual");
  const QByteArray html = document.toHtml().toUtf8();

  QFile out(QString::fromLocal8Bit(argv[2]));
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(html) != html.size()) {
    std::fprintf(stderr, "make_manual: cannot write %s: %s\n", argv[2], qPrintable(out.errorString()));
    return 1;
  }
  return 0;
}
