// The symbol server: a loopback TCP server from which the signal-generation
// software fetches the server name, the new-state flag, the sequence length,
// the symbol rate and the samples in memory. The window and orvex-cli serve
// both run this one class; they only tell it where the state and the
// samples come from.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
struct IQDatStr;

// Opens every reply (int32, little-endian).
enum SERVER_MESSAGE_HEADER_TYPE : int32_t {
    MSG_SYMBOLRATE = 0,  // float: sample rate in Hz
    MSG_SEQLENGTH = 1,   // float: sample count
    MSG_SYMBOLS = 2,     // the I/Q samples, interleaved float32
    MSG_NEWSTATE = 3,    // float: 1.0 when the data or a setting changed
    MSG_SERVERID = 4,    // 96 bytes: program name, zero padded
};

constexpr int kServerIdBytes = 100;

// Recognised requests, in the order they are tested: "GetSymbolRate" must be
// tried before its prefix "GetSymbol".
enum class Request { None, ServerID, NewState, SequenceLength, SymbolRate, Symbol };

// The 8-byte value reply and the 100-byte identification.
QByteArray ValueReply(SERVER_MESSAGE_HEADER_TYPE type, float value);
QByteArray ServerIdReply();

// Splits the byte stream from the client into requests. TCP keeps no write
// boundaries, so every keyword found in the stream is a request; bytes that
// do not begin a keyword are skipped. Comparison is case-sensitive.
class RequestScanner {
public:
    // Appends received bytes. A keyword cut at the end of the data is kept
    // until the next call completes or refutes it.
    void feed(const QByteArray& bytes);
    // The next complete request, or Request::None when the data held so far
    // contains no more.
    Request next();
    int pending() const { return int(buf_.size() - pos_); }
    void clear();

private:
    QByteArray buf_;
    int pos_ = 0;
};

// The samples of one symbols reply. Immutable and shared by pointer; it
// holds its arrays itself (a copy, or the record's own arrays shared with
// the record), so a reply still going out keeps consistent samples while
// the record is reloaded or freed.
class SymbolData {
public:
    using Ptr = std::shared_ptr<const SymbolData>;

    // Copies n samples; null when the memory for the copy is not available.
    static Ptr copyOf(const float* i, const float* q, uint64_t n);
    // Shares the record's arrays without copying: valid because samples are
    // never rewritten in place (see IQDatStr::Keep).
    static Ptr share(const IQDatStr& rec);
    // Takes the record's samples over, the record is left without arrays.
    // They are kept as the reply itself, made once: a server that only
    // serves these samples then sends every reply straight from memory.
    static Ptr adopt(IQDatStr* rec);

    uint64_t n() const { return n_; }
    // Bytes of the symbols reply: 4 + 8n.
    uint64_t replyBytes() const { return 4 + 8 * n_; }
    // Writes bytes [offset, offset + len) of the symbols reply to out.
    void fill(uint64_t offset, uint8_t* out, size_t len) const;
    // The whole reply in memory (adopted samples), or null.
    const uint8_t* reply() const { return reply_; }

private:
    std::shared_ptr<const void> keep_;
    const float* i_ = nullptr;
    const float* q_ = nullptr;
    const uint8_t* reply_ = nullptr;
    uint64_t n_ = 0;
};

// What the replies report, asked for at the moment a reply is made.
struct ServeState {
    bool newState = false;    // data or settings changed
    bool dataValid = false;   // samples in memory may be served
    uint64_t n = 0;           // sample count of the load record
    double clock = 0;         // sample rate in Hz
    int connectTo = 1;        // 1: the new-state answer carries the symbols
};

class SymbolServer : public QObject {
    Q_OBJECT
public:
    using StateFn = std::function<ServeState()>;
    using DataFn = std::function<SymbolData::Ptr()>;

    explicit SymbolServer(QObject* parent = nullptr);
    ~SymbolServer() override;

    // The state is asked for at every reply; the samples only when a symbols
    // reply is actually made.
    void setStateSource(StateFn fn) { state_ = std::move(fn); }
    void setSymbolSource(DataFn fn) { data_ = std::move(fn); }

    // Listens on the loopback address only. Port 0 lets the system choose.
    bool listen(quint16 port);
    void close();
    bool isListening() const;
    quint16 serverPort() const;
    QHostAddress serverAddress() const;
    QString errorString() const;
    bool hasClient() const { return client_ != nullptr; }

    // Replies to the current client; without a client they do nothing. They
    // go out in the order made. A symbols reply is written by a thread of its
    // own, two 64000-byte pieces per call, as the socket drains, so the event
    // loop stays free; replies made meanwhile wait behind it.
    void sendToWavesmith(SERVER_MESSAGE_HEADER_TYPE type, float value);
    void sendServerID();
    void sendNewState();
    void sendSymbolrate();
    void sendSequenceLength();
    void sendSymbols();

    // Bytes made but not yet taken by the operating system.
    qint64 backlog() const;

signals:
    void clientConnected();
    void clientDisconnected();
    void requestReceived(Request request);
    // Bytes of a symbols reply handed to the socket since the last signal:
    // several pieces are reported together, at the latest when the sending
    // has to wait for the client and when the reply is complete.
    void symbolPiece(qint64 bytes);

private slots:
    void new_connection();
    void read_connection();
    void disconnected();
    void pump();

private:
    struct Sender;
    struct Job {
        QByteArray bytes;         // a small reply, or
        SymbolData::Ptr data;     // a symbols reply being cut into pieces
        uint64_t offset = 0;
        uint64_t total = 0;
    };
    ServeState state() const;
    void queue(QByteArray bytes);
    void answer(Request r);
    void dropClient();
    void startSender(const Job& j);
    void senderNews(uint64_t generation);
    void stopSender();
    void readHeldBack();

    QTcpServer* server_ = nullptr;
    QTcpSocket* client_ = nullptr;
    StateFn state_;
    DataFn data_;
    RequestScanner scanner_;
    std::deque<Job> jobs_;
    std::unique_ptr<Sender> sender_;   // the symbols reply at the front of jobs_
    uint64_t senderGeneration_ = 0;
    bool pumping_ = false;
};

Q_DECLARE_METATYPE(Request)
