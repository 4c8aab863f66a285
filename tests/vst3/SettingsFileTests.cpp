// The per-user settings file as it may be found: a link to a device, a FIFO, a folder, a
// number no float holds. Each plug-in is created as a host creates it, within the time and
// memory a host would give it.
#include "RawHost.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace rawhost;
namespace fs = std::filesystem;

namespace
{
fs::path settingsPath() { return fs::path (std::getenv ("HOME")) / ".config/Kelvor58/Kelvor58.settings"; }
fs::path targets() { return fs::path (std::getenv ("HOME")) / "settings-targets"; }

// A creation that takes over 10 s or grows the memory by over 200 MB ends the test program,
// naming the case.
std::unique_ptr<Plugin> createWithinLimits (const std::string& what)
{
    Watchdog watchdog ("creating the plug-in with " + what, std::chrono::seconds (10), 200);
    return std::make_unique<Plugin>();
}

// A folder nobody may change: immutable where the tests may set that (as root), else read-only.
bool setWritable (const fs::path& folder, bool writable)
{
    const int fd = open (folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ioctl (fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = writable ? flags & ~FS_IMMUTABLE_FL : flags | FS_IMMUTABLE_FL;
    done = done && ioctl (fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        close (fd);
    return done || (geteuid() != 0 && chmod (folder.c_str(), writable ? 0700 : 0500) == 0);
}

std::string settingsText (const std::string& width, const std::string& height)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<PROPERTIES>\n  <VALUE name=\"Width\" val=\"" + width
         + "\"/>\n  <VALUE name=\"Height\" val=\"" + height + "\"/>\n</PROPERTIES>\n";
}

void write (const fs::path& path, const std::string& text) { std::ofstream (path, std::ios::binary) << text; }

std::string read (const fs::path& path)
{
    std::ifstream in (path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The editor size the plug-in took from the settings file, as its save writes it back when it goes.
std::string sizeTaken (const std::string& what)
{
    createWithinLimits (what)->getState();
    const auto text = read (settingsPath());
    const auto value = [&text] (const std::string& key) -> std::string
    {
        const auto start = text.find ("name=\"" + key + "\" val=\"") + key.size() + 13;
        return start < text.size() ? text.substr (start, text.find ('"', start) - start) : "none";
    };
    return value ("Width") + " x " + value ("Height");
}

// Every case starts with an empty settings folder and leaves nothing behind for the next.
class Vst3Settings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TearDown();
        fs::create_directories (settingsPath().parent_path());
        fs::create_directories (targets());
    }

    void TearDown() override
    {
        fs::remove_all (settingsPath().parent_path());
        fs::remove_all (targets());
    }

    // Created within the limits, the node at the settings path itself is gone.
    static void expectRemovedUnread (const std::string& what)
    {
        {
            const auto plugin = createWithinLimits (what);
            EXPECT_FALSE (fs::exists (fs::symlink_status (settingsPath()))) << what;
        }
        fs::remove (settingsPath());
    }
};
} // namespace

TEST_F (Vst3Settings, NodesThatAreNoRegularFileAreRemovedUnread)
{
    // A link goes, never what it points at.
    for (const char* device : { "/dev/zero", "/dev/urandom" })
    {
        fs::create_symlink (device, settingsPath());
        expectRemovedUnread (std::string ("a link to ") + device);
        EXPECT_TRUE (fs::is_character_file (device));
    }

    ASSERT_EQ (mkfifo (settingsPath().c_str(), 0600), 0);
    expectRemovedUnread ("a FIFO");

    ASSERT_EQ (mkfifo ((targets() / "fifo").c_str(), 0600), 0);
    fs::create_symlink (targets() / "fifo", settingsPath());
    expectRemovedUnread ("a link to a FIFO");
    EXPECT_TRUE (fs::is_fifo (targets() / "fifo"));

    fs::create_symlink (targets() / "nothing", settingsPath());
    expectRemovedUnread ("a dangling link");

    fs::create_directories (targets() / "folder");
    write (targets() / "folder" / "kept", "x");
    fs::create_symlink (targets() / "folder", settingsPath());
    expectRemovedUnread ("a link to a folder");
    EXPECT_EQ (read (targets() / "folder" / "kept"), "x");

    const int server = socket (AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf (address.sun_path, sizeof (address.sun_path), "%s", settingsPath().c_str());
    ASSERT_EQ (bind (server, reinterpret_cast<sockaddr*> (&address), sizeof (address)), 0);
    expectRemovedUnread ("a socket");
    close (server);

    // Device nodes of their own, where the tests may make them (as root): /dev/zero's, a disk's.
    if (mknod (settingsPath().c_str(), S_IFCHR | 0600, makedev (1, 5)) == 0)
        expectRemovedUnread ("a character device");
    if (mknod (settingsPath().c_str(), S_IFBLK | 0600, makedev (7, 200)) == 0)
        expectRemovedUnread ("a block device");
}

TEST_F (Vst3Settings, AFifoThatCannotBeRemovedIsNeverOpened)
{
    ASSERT_EQ (mkfifo (settingsPath().c_str(), 0600), 0);
    if (! setWritable (settingsPath().parent_path(), false))
        GTEST_SKIP() << "the settings folder cannot be made unwritable here";

    createWithinLimits ("a FIFO in a folder that cannot be written to")->getState();
    const bool stays = fs::is_fifo (settingsPath());
    setWritable (settingsPath().parent_path(), true);
    EXPECT_TRUE (stays);
}

TEST_F (Vst3Settings, AFolderThereIsLeftAndNothingIsSavedOverIt)
{
    fs::create_directories (settingsPath());
    write (settingsPath() / "inside", "the user's");
    createWithinLimits ("a folder")->getState(); // the editor size is saved as the plug-in goes
    EXPECT_TRUE (fs::is_directory (fs::symlink_status (settingsPath())));
    EXPECT_EQ (read (settingsPath() / "inside"), "the user's");
    EXPECT_EQ (std::distance (fs::directory_iterator (settingsPath()), fs::directory_iterator()), 1);
}

TEST_F (Vst3Settings, ARegularFileOrALinkToOneStillLoadsAndStays)
{
    write (settingsPath(), settingsText ("352.0", "384.0"));
    createWithinLimits ("a regular file");
    EXPECT_TRUE (fs::is_regular_file (fs::symlink_status (settingsPath())));
    EXPECT_EQ (sizeTaken ("a regular file"), "352.0 x 384.0");

    // Kept elsewhere and linked to, as dotfile managers do.
    fs::remove (settingsPath());
    write (targets() / "linked", settingsText ("308.0", "336.0"));
    fs::create_symlink (targets() / "linked", settingsPath());
    createWithinLimits ("a link to a regular file");
    EXPECT_TRUE (fs::is_symlink (settingsPath()));
    EXPECT_EQ (sizeTaken ("a link to a regular file"), "308.0 x 336.0");
}

TEST_F (Vst3Settings, AWidthBeyondEveryRangeIsNoSize)
{
    // Exponents and runs of digits that overflowed the framework's reader into some small
    // size are infinities here, and no size; an ordinary size however long still reads.
    const std::string nines (1000000, '9');
    for (const auto& width : { "1e" + nines, "-1e" + nines, "1" + std::string (1100, '0') })
    {
        write (settingsPath(), settingsText (width, "400.0"));
        EXPECT_EQ (sizeTaken ("a huge width"), "0.0 x 0.0") << width.substr (0, 20);
    }
    write (settingsPath(), settingsText (std::string (100, '0') + "352." + std::string (100, '0') + "1e0", "0.384e3"));
    EXPECT_EQ (sizeTaken ("a long width"), "352.0 x 384.0");
}
