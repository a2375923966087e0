#pragma once

#include <QString>

// A finished run's captured output. It is held in memory from the end of the
// run until the run is in the history file; a run read from the file, or
// written to it since, keeps only whether it has any output, and the text is
// read back from the file when someone opens it. A long history would
// otherwise keep hundreds of megabytes of output on the heap that nobody reads.
class ServiceRunOutput {
public:
    ServiceRunOutput() = default;
    ServiceRunOutput(QString text) // NOLINT(google-explicit-constructor): a held output is its text
        : m_text(std::move(text))
    {}

    // An output that lies in the history file only (an empty one is held as empty).
    static ServiceRunOutput inFile(bool empty);

    bool isEmpty() const { return !m_inFile && m_text.isEmpty(); }
    bool isHeld() const { return !m_inFile; }
    // The text while held; empty for an output that lies in the file.
    const QString &text() const { return m_text; }
    void clear() { *this = {}; }

    friend bool operator==(const ServiceRunOutput &, const ServiceRunOutput &) = default;

private:
    QString m_text;
    bool m_inFile = false;
};

size_t qHash(const ServiceRunOutput &output, size_t seed = 0);
