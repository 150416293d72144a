// HalcyraServer: the backup server client library, as our stand-in serves it.
//
// Where the state comes from. Connect reads the backup server's state from the
// state document (UTF-8 XML) named by the environment variable
// NORLO_SERVER_STATE; when the variable is unset or empty, from a sample server
// built into the library. The server name and port given to Connect are not
// used. A file that is missing, unreadable, not a regular file, not a valid
// state document or beyond one of the limits below makes Connect fail.
//
// A valid state document is UTF-8 (whatever its declaration says) with the
// root NorloServer holding at most one each of MessageLog (Message elements),
// UserConfigurations (Configuration elements) and Organization (Organization
// and User elements, nested), in no namespace, and nothing else. Numbers are
// decimal: severity, backupPackageSize, lowDiskSpaceLimit, active and
// protected 32-bit signed, backupSets 0 to kMaxBackupSets, storageSize 64-bit
// unsigned. Unknown attributes and text between elements are ignored. A
// DOCTYPE (and with it any entity or external DTD) is refused.
//
// Re-reading. Parsed documents are cached process-wide. Connect and every
// Refresh look at the file again but parse it only when it changed: when its
// device, inode, size, modification time or status-change time (nanoseconds)
// differ from the ones it had when it was read. File times advance in clock
// ticks, so a file whose times were still within the current tick when it was
// read is also compared byte for byte on the next look, until its times are
// older than that. A file rewritten with the same size within the same tick
// on a file system that keeps coarser times (whole seconds) may go unseen;
// replace state files by renaming a complete new file into place.
//
// Ownership. The server owns every object reached through it. The message
// log, the configuration collection and the root node that its getters return
// live as long as the server; when Connect or a Refresh brings in changed
// state, the objects that a collection or node handed out before (its items,
// its children and theirs) are released. HBKUser objects belong to the caller
// and hold the state they resolved against, so they may outlive the server.
//
// Threads. A server and the objects reached through it are used by one thread
// at a time. Different servers, and HBKUser objects, may be used from several
// threads at once; the cache they share is locked inside the library.
// Xerces-C. Connect and Refresh parse with Xerces-C but never initialise or
// terminate it: the process initialises it (XMLPlatformUtils::Initialize)
// before the first Connect and keeps it initialised while any Connect or
// Refresh runs; the plug-in does so from "initialize" to "terminate". Its
// initialisation count is not thread-safe, so a library that bumped it around
// each parse would race with the process's own Initialize and Terminate.
// While Xerces-C is not initialised, Connect fails with kErrorNoXml (and a
// state file is not marked as read).
//
// Texts are UTF-16, converted in full from the document. An absent attribute
// reads as the empty text or 0. Nothing here throws but std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace halcyra {

struct State;
struct Node;
class Session;
class BackupSets;

// What a state document may cost; beyond any of them Connect fails with
// kErrorLimit. Sized for servers of 1,000,000 messages and 100,000 users.
inline constexpr std::size_t kMaxStateBytes = std::size_t{256} << 20;  // the file
inline constexpr std::size_t kMaxElements = std::size_t{1} << 21;      // in the document
inline constexpr std::size_t kMaxDepth = 64;          // elements open at once, root included
inline constexpr std::size_t kMaxAttributes = 32;     // on one element
inline constexpr std::size_t kMaxTextLength = 65536;  // UTF-16 units of one attribute value
inline constexpr long kMaxBackupSets = 65536;         // the backupSets count of a configuration

// Error ids recorded on the server when Connect fails.
inline constexpr std::string_view kErrorUnreadable = "IDS_STATE_UNREADABLE";
inline constexpr std::string_view kErrorInvalid = "IDS_STATE_INVALID";
inline constexpr std::string_view kErrorLimit = "IDS_STATE_LIMIT";
inline constexpr std::string_view kErrorNoXml = "IDS_XML_UNINITIALIZED";
// Error id of indexed access outside a collection.
inline constexpr std::string_view kErrorBadIndex = "IDS_BADINDEX";
// Error id of the changes a read-only server refuses.
inline constexpr std::string_view kErrorReadOnly = "IDS_READONLY";

// Number of state documents parsed so far in this process (the built-in sample
// and documents found invalid included). Thread-safe. For tests of re-reading.
unsigned long StateLoadCount();
// Number of Refresh calls on any object so far (the collection's, a
// configuration's or a node's), whatever they found. Thread-safe. For tests
// of when callers refresh.
unsigned long RefreshCount();

}  // namespace halcyra

class HBKOrgNode;

struct HBKError {
    std::string where;  // the operation, for example "HBKCollection::GetItemAt"
    std::string id;     // for example "IDS_BADINDEX"
    long index = 0;     // the index or value the operation was given
};

// Base of every library object: carries the object's last error.
class HBKObject {
  public:
    HBKObject();
    virtual ~HBKObject();
    HBKObject(const HBKObject &) = delete;
    HBKObject &operator=(const HBKObject &) = delete;

    // Replaces the last error.
    void SetLastError(std::string_view where, std::string_view id, long index);
    // The last error, or null when none was recorded since construction or
    // ClearLastError. Valid until the next SetLastError or ClearLastError.
    const HBKError *GetLastError() const;
    void ClearLastError();

  private:
    std::unique_ptr<HBKError> m_lastError;
};

// An ordered collection. Items belong to the collection.
class HBKCollection : public HBKObject {
  public:
    long GetCount() const;
    // The item at 0-based `index`; for an index outside [0, GetCount()) null,
    // with the error ("HBKCollection::GetItemAt", "IDS_BADINDEX", index).
    HBKObject *GetItemAt(long index);

  protected:
    HBKCollection() = default;

  private:
    virtual std::size_t Count() const = 0;
    virtual HBKObject *Item(std::size_t index) = 0;  // index < Count()
};

class HBKBackupOptions : public HBKObject {
  public:
    HBKBackupOptions() = default;
    int GetBackupPkgSize() const { return m_packageSize; }
    int GetLowDiskSpaceLimit() const { return m_lowDiskSpaceLimit; }
    void Set(int packageSize, int lowDiskSpaceLimit);  // library use

  private:
    int m_packageSize = 0;
    int m_lowDiskSpaceLimit = 0;
};

class HBKUserConfiguration : public HBKObject {
  public:
    // Library use: the configuration at `index` of `state`.
    HBKUserConfiguration(halcyra::Session &session, std::shared_ptr<const halcyra::State> state,
                         std::size_t index);
    ~HBKUserConfiguration() override;

    // Re-reads the state; then shows the first configuration of this name, or
    // keeps what it showed when the name is gone. Releases earlier backup sets.
    void Refresh();
    std::u16string GetName() const;
    std::u16string GetFileName() const;
    // Only the item count carries meaning; the items are plain objects.
    HBKCollection *GetBackupSets();
    HBKBackupOptions *GetBackupOptions() { return &m_options; }

  private:
    void Bind(std::shared_ptr<const halcyra::State> state, std::size_t index);

    halcyra::Session &m_session;
    std::shared_ptr<const halcyra::State> m_state;
    std::size_t m_index = 0;
    std::unique_ptr<halcyra::BackupSets> m_backupSets;
    HBKBackupOptions m_options;
};

// The configurations in document order.
class HBKUserConfigurations : public HBKCollection {
  public:
    explicit HBKUserConfigurations(halcyra::Session &session);  // library use
    ~HBKUserConfigurations() override;

    // Re-reads the state; items handed out before are released if it changed.
    void Refresh();
    // The default configuration's name as the document gives it; empty if none.
    std::u16string GetDefault() const;
    // HBKCollection::GetItemAt, typed.
    HBKUserConfiguration *GetItemAt(long index);

    void Bind(std::shared_ptr<const halcyra::State> state);  // library use

  private:
    std::size_t Count() const override;
    HBKObject *Item(std::size_t index) override;

    halcyra::Session &m_session;
    std::shared_ptr<const halcyra::State> m_state;
    std::vector<std::unique_ptr<HBKUserConfiguration>> m_items;  // made on first access
};

// One message at a time, from the first.
class HBKMessageLog : public HBKObject {
  public:
    HBKMessageLog() = default;
    ~HBKMessageLog() override;

    // Fills the outputs with the next message and returns 1; returns 0 and
    // leaves them unchanged after the last. `severity` keeps the 256 flag;
    // `date` is the text as written.
    int GetNextMessage(int &severity, std::u16string &date, std::u16string &source,
                       std::u16string &description, std::u16string &extension);

    void Bind(std::shared_ptr<const halcyra::State> state);  // library use; rewinds
    void Rewind() { m_next = 0; }

  private:
    std::shared_ptr<const halcyra::State> m_state;
    std::size_t m_next = 0;
};

// What organizations and users share. The virtual operations keep this order.
// The server is read-only: Save, Add, AddToDB and the Set operations change
// nothing, record (class::operation, "IDS_READONLY", 0) and return 0.
class HBKEntity : public HBKObject {
  public:
    virtual int Save();
    virtual int Add();
    virtual int AddToDB();
    virtual int SetParent(HBKOrgNode *parent);
    // One line: kind, name (UTF-8), active and protected flags.
    virtual void print(std::ostream &out) const = 0;
    virtual int SetName(const std::u16string &name);
    virtual int GetActive() const = 0;  // non-zero: active
    virtual int SetActive(int active);
    virtual int GetProtected() const = 0;  // non-zero: protected
    virtual int SetProtected(int isProtected);

  protected:
    explicit HBKEntity(const char *kind) : m_kind(kind) {}

  private:
    int Refuse(const char *operation);
    const char *m_kind;
};

enum orgType { orgOrganization = 1, orgUser = 2 };

// An organization or a user in the organization tree. Walk the children with
// Refresh, SetStartPosition, then GetNext until null.
class HBKOrgNode : public HBKEntity {
  public:
    // Library use: node `index` of `state`.
    HBKOrgNode(halcyra::Session &session, std::shared_ptr<const halcyra::State> state,
               std::uint32_t index);
    ~HBKOrgNode() override;

    // Re-reads the state; then shows the node at the same place in the tree
    // (same child positions from the root, same name and type), or keeps what
    // it showed when there is none. Releases earlier children if it changed.
    void Refresh();
    void SetStartPosition();
    // The next child in document order, owned by this node; null after the last.
    HBKOrgNode *GetNext();
    std::u16string GetName() const;
    orgType GetType() const;
    void print(std::ostream &out) const override;
    int GetActive() const override;
    int GetProtected() const override;

    void Bind(std::shared_ptr<const halcyra::State> state, std::uint32_t index);  // library use

  private:
    const halcyra::Node &Shown() const;

    halcyra::Session &m_session;
    std::shared_ptr<const halcyra::State> m_state;
    std::uint32_t m_index = 0;
    std::size_t m_position = 0;
    std::vector<std::unique_ptr<HBKOrgNode>> m_children;  // made on first visit
};

// A user looked up by name: the first user of that name in depth-first
// document order of the tree the server `conid` holds now. A name nobody has,
// or a conid of no connected server, gives empty texts, storage size 0,
// inactive and unprotected.
class HBKUser : public HBKEntity {
  public:
    HBKUser(unsigned long conid, const std::u16string &name);
    ~HBKUser() override;

    std::u16string GetName() const { return m_name; }
    std::u16string GetConfig() const;
    std::u16string GetLastLoginDate() const;
    std::u16string GetDataPath() const;
    std::u16string GetLastBackupDate() const;
    unsigned long GetStorageSize() const;
    void print(std::ostream &out) const override;
    int GetActive() const override;
    int GetProtected() const override;

  private:
    const halcyra::Node *Found() const;  // null: nobody

    std::u16string m_name;
    std::shared_ptr<const halcyra::State> m_state;  // null: nobody
    std::uint32_t m_node = 0;
};

class HBKServer : public HBKObject {
  public:
    HBKServer();
    ~HBKServer() override;

    // Loads the state (see the top of this header). Returns 1 when connected.
    // On failure returns 0, records ("HBKServer::Connect", one of the
    // kError ids, 0) and shows an empty server until the next good Connect.
    int Connect(const std::u16string &serverName, int port);
    // 1 when connected, else 0.
    int Startup();
    // This server's id for HBKUser: non-zero, unique in the process.
    long GetConid() const { return m_conid; }
    // Never null. GetMessageLog rewinds the log to its first message.
    HBKMessageLog *GetMessageLog();
    HBKUserConfigurations *GetUserConfigurations() { return m_configurations.get(); }
    // The root organization; an unnamed one without children if the document has none.
    HBKOrgNode *GetMyOrganization() { return m_root.get(); }

  private:
    void Bind(const std::shared_ptr<const halcyra::State> &state);

    long m_conid;
    std::unique_ptr<halcyra::Session> m_session;  // outlives the objects below
    std::unique_ptr<HBKMessageLog> m_log;
    std::unique_ptr<HBKUserConfigurations> m_configurations;
    std::unique_ptr<HBKOrgNode> m_root;
};
