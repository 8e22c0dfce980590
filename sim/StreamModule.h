#ifndef STREAMMODULE_H
#define STREAMMODULE_H

#include "frames/SyntheticScene.h"
#include "sim/SimModule.h"

#include <QElapsedTimer>
#include <QQueue>
#include <QRandomGenerator>
#include <QTimer>

// The camera's frame stream. Command 2 starts it and command 3 stops it;
// commands 4, 5 and 6 choose amplitude, depth or grayscale frames; the HDR,
// DRNU and parameter commands change the scene as SyntheticScene describes.
// Frames follow each other at --fps; while the application does not read,
// frames are skipped rather than queued without end.
//
// Hostile options for tests: --status10-every N (every Nth frame has status
// 10), --garbage N (1..N bytes of noise and a marker, like a stray reply,
// after every frame; seeded by --garbage-seed), --multi-frame N
// (N frames in one write), --marker-in-data (copies of the marker in the pixel
// data), --frame-limit N (stop by itself after N frames). The core's --chunk
// and --chunk-random split the writes.
//
// Events: "stream started", "stream stopped", with --frame-events one
// "frame <k> <status> <ns>" per frame once its last byte is in the terminal
// (ns: CLOCK_MONOTONIC). Control lines: "stream stats" answers
// "stream stats sent <n> hidden <n> skipped <n> garbage <bytes>";
// "stream fps <n>" changes the rate; "stream pause" and "stream resume" hold
// back and release the frames without a command from the application.
class StreamModule : public SimModule
{
    Q_OBJECT

public:
    explicit StreamModule(SimCamera &camera);

    bool handleCommand(const QByteArray &command) override;
    void addOptions(QCommandLineParser &parser) override;
    bool applyOptions(const QCommandLineParser &parser, QString *error) override;
    bool handleControl(const QStringList &words) override;
    void plugged() override;
    void unplugged() override;
    void modelChanged() override;

    // The value of a 4-byte parameter command: high byte the quotient by 256,
    // low byte the remainder, each truncated toward zero.
    static int parameterValue(const QByteArray &command);

private:
    void startStream();
    void stopStream();
    void tick();
    void produceFrame();
    void flushBatch();
    void reportWritten();
    QByteArray garbage();
    void resetScene();
    int blockSize() const;

    SceneSettings m_scene;
    SceneSettings m_stillScene;
    QVector<quint16> m_still;
    int m_fps = 30;
    int m_status10Every = 0;
    int m_garbageMax = 0;
    int m_multiFrame = 1;
    int m_frameLimit = 0;
    bool m_markerInData = false;
    bool m_frameEvents = false;
    QRandomGenerator m_random;

    bool m_streaming = false;
    bool m_paused = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_nextDueNs = 0;
    quint32 m_frameNumber = 0;
    QByteArray m_batch;
    int m_batchFrames = 0;

    // Frames sent but not yet wholly taken by the terminal: frame number,
    // status, and the count of bytes written by then.
    struct Pending
    {
        quint32 number;
        quint8 status;
        qint64 endsAt;
    };
    QQueue<Pending> m_unconfirmed;
    QQueue<Pending> m_batchPending;
    qint64 m_bytesWritten = 0; // by the camera, to the terminal

    quint64 m_sent = 0;
    quint64 m_hidden = 0;
    quint64 m_skipped = 0;
    quint64 m_garbageBytes = 0;
};

#endif // STREAMMODULE_H
