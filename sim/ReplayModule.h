#ifndef REPLAYMODULE_H
#define REPLAYMODULE_H

#include "frames/Recording.h"
#include "sim/SimModule.h"

#include <QElapsedTimer>
#include <QTimer>

// Plays a recording (quarvel-cli record) as a live camera: the simulator takes
// the recorded model, answers command 1 with the recorded device information,
// and while streaming (commands 2 and 3) sends the recorded frame blocks, byte
// for byte, at their recorded times. Frames are delayed, never skipped, when
// the application does not read. Frame type and parameter commands change
// nothing: the recording is what it is.
//
// Options: --replay <file.kvr>, --loop (start over after the last frame),
// --speed <factor> (2 plays twice as fast). Events: "replay started",
// "replay finished <frames sent>" (at the end of the recording without --loop).
class ReplayModule : public SimModule
{
    Q_OBJECT

public:
    explicit ReplayModule(SimCamera &camera);

    bool handleCommand(const QByteArray &command) override;
    void addOptions(QCommandLineParser &parser) override;
    bool applyOptions(const QCommandLineParser &parser, QString *error) override;
    void unplugged() override;

private:
    bool isActive() const;
    void startPlayback();
    void stopPlayback();
    void tick();
    bool readAhead();

    bool m_enabled = false;
    bool m_loop = false;
    double m_speed = 1.0;
    RecordingReader m_reader;
    int m_recordedModel = 0;

    bool m_playing = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    Recording::Frame m_next;
    bool m_haveNext = false;
    quint64 m_firstTimeNs = 0;
    quint64 m_lastTimeNs = 0;
    quint64 m_loopOffsetNs = 0; // recorded time of the current pass's start on the playback clock
    quint64 m_framesSent = 0;
    quint64 m_framesInPass = 0;
};

#endif // REPLAYMODULE_H
