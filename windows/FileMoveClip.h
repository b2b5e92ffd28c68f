#pragma once
// The moving-files clip of the windows that move data about (compacting,
// reorganizing): one clip, played the same way in each. The clip is written
// to a temporary file on the first load and played from there; a later
// load reuses that file while it is still there. The file goes with the
// clip object, that is with its window.
#include <QString>

#include <memory>

class QLabel;
class QMovie;
class QTemporaryFile;

namespace qx {

class FileMoveClip {
public:
    // `screen` shows the clip and is hidden when there is none; `source`
    // names the clip (the program's own by default).
    explicit FileMoveClip(QLabel* screen, QString source = QStringLiteral(":/animation/filemove.gif"));
    ~FileMoveClip();
    FileMoveClip(const FileMoveClip&) = delete;
    FileMoveClip& operator=(const FileMoveClip&) = delete;

    // False when there is no clip to play: the window then works without it.
    bool Load();
    // Plays from the first frame, over and over, until stopped.
    void Start();
    void Stop();
    // Holds the current frame, when the clip is shown.
    void Pause();

    bool Ready() const { return m_ready; }
    QMovie* Movie() const { return m_movie; }
    // The temporary file the clip plays from; "" before a load.
    QString FileName() const;
    // How often the clip was written out.
    int Writes() const { return m_writes; }

private:
    bool WriteFile();

    QLabel* m_screen;
    QString m_source;
    std::unique_ptr<QTemporaryFile> m_file;
    QMovie* m_movie = nullptr;  // a child of the screen
    bool m_ready = false;
    bool m_looping = false;
    int m_writes = 0;
};

}  // namespace qx
