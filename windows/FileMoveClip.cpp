#include "windows/FileMoveClip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMovie>
#include <QTemporaryFile>

#include <utility>

namespace qx {

FileMoveClip::FileMoveClip(QLabel* screen, QString source) : m_screen(screen), m_source(std::move(source)) {}

FileMoveClip::~FileMoveClip() {
    // The movie reads the file: it goes first, then the file with m_file.
    if (m_movie) {
        m_movie->stop();
        if (m_screen) m_screen->setMovie(nullptr);
        delete m_movie;
        m_movie = nullptr;
    }
}

QString FileMoveClip::FileName() const { return m_file ? m_file->fileName() : QString(); }

bool FileMoveClip::WriteFile() {
    QFile clip(m_source);
    if (!clip.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = clip.readAll();
    auto file = std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("quillex-clip-XXXXXX.gif")));
    if (bytes.isEmpty() || !file->open() || file->write(bytes) != bytes.size() || !file->flush()) return false;
    file->close();
    m_file = std::move(file);
    ++m_writes;
    return true;
}

bool FileMoveClip::Load() {
    const bool present = m_file && QFileInfo::exists(m_file->fileName());
    if (!present) {
        if (m_movie) {
            m_movie->stop();
            m_screen->setMovie(nullptr);
            delete m_movie;
            m_movie = nullptr;
        }
        m_file.reset();
        if (!WriteFile()) {
            m_ready = false;
            m_screen->hide();
            return false;
        }
    }
    if (!m_movie) {
        m_movie = new QMovie(m_file->fileName(), QByteArray(), m_screen);
        m_movie->setCacheMode(QMovie::CacheAll);
        // The clip's own loop count is not trusted: it runs until stopped.
        QObject::connect(
            m_movie, &QMovie::finished, m_movie,
            [this] {
                if (m_looping) m_movie->start();
            },
            Qt::QueuedConnection);
    }
    m_ready = m_movie->isValid();
    if (!m_ready) {
        m_screen->hide();
        return false;
    }
    m_screen->setMovie(m_movie);
    m_movie->jumpToFrame(0);
    m_screen->setFixedSize(m_movie->currentPixmap().size());
    return true;
}

void FileMoveClip::Start() {
    if (!m_ready) return;
    m_screen->show();
    m_looping = true;
    m_movie->stop();
    m_movie->start();
}

void FileMoveClip::Stop() {
    m_looping = false;
    if (!m_ready || !m_movie) return;
    m_movie->stop();
    m_screen->hide();
}

void FileMoveClip::Pause() {
    if (m_ready && m_screen->isVisible()) m_movie->setPaused(true);
}

}  // namespace qx
