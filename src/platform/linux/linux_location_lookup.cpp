#include "platform/linux/linux_location_lookup.h"

#include <netinet/in.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libloc/as.h>
#include <libloc/country.h>
#include <libloc/database.h>
#include <libloc/libloc.h>
#include <libloc/network.h>
}

namespace tarnwick {

namespace {

constexpr const char* kDefaultDatabasePath = "/var/lib/location/database.db";
constexpr const char* kDatabasePathVariable = "TARNWICK_LOCATION_DATABASE";

// The library writes its own complaints to standard error; ours say it in
// our words, once, where the user looks.
void QuietLog(loc_ctx*, int, const char*, int, const char*, const char*, va_list) {}

// The file's identity: a new file at the path (an update) has another.
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Modified{};
    bool operator==(const TFileIdentity& other) const {
        return Device == other.Device && Inode == other.Inode && Modified.tv_sec == other.Modified.tv_sec &&
               Modified.tv_nsec == other.Modified.tv_nsec;
    }
};

TFileIdentity IdentityOf(const struct stat& status) { return {status.st_dev, status.st_ino, status.st_mtim}; }

in6_addr LibraryAddress(const TInetAddress& address) {
    in6_addr raw{};
    if (address.V6()) {
        std::memcpy(raw.s6_addr, address.Bytes().data(), sizeof raw.s6_addr);
    } else {
        // The library keeps IPv4 networks as IPv4-mapped IPv6 ones.
        raw.s6_addr[10] = 0xff;
        raw.s6_addr[11] = 0xff;
        std::memcpy(raw.s6_addr + 12, address.Bytes().data(), 4);
    }
    return raw;
}

class TLibLocLookup final : public TLocationLookup {
public:
    TLibLocLookup(loc_ctx* context, loc_database* database, FILE* file, TFileIdentity identity, std::string path)
        : Context_(context), Database_(database), File_(file), Identity_(identity) {
        Info_.Path = std::move(path);
        Info_.CreatedAt = std::chrono::system_clock::from_time_t(loc_database_created_at(database));
    }
    ~TLibLocLookup() override {
        loc_database_unref(Database_);
        loc_unref(Context_);
        std::fclose(File_);
    }
    TLibLocLookup(const TLibLocLookup&) = delete;
    TLibLocLookup& operator=(const TLibLocLookup&) = delete;

    std::optional<TLocation> Locate(const TInetAddress& address) override {
        const in6_addr raw = LibraryAddress(address);
        loc_network* network = nullptr;
        if (loc_database_lookup(Database_, &raw, &network) != 0 || network == nullptr) return std::nullopt;
        TLocation location;
        if (const char* code = loc_network_get_country_code(network); code && *code) {
            location.CountryCode = code;
            loc_country* country = nullptr;
            if (loc_database_get_country(Database_, &country, code) == 0 && country) {
                if (const char* name = loc_country_get_name(country)) location.CountryName = name;
                loc_country_unref(country);
            }
        }
        location.Asn = loc_network_get_asn(network);
        loc_network_unref(network);
        if (location.Asn != 0) {
            loc_as* as = nullptr;
            if (loc_database_get_as(Database_, &as, location.Asn) == 0 && as) {
                if (const char* name = loc_as_get_name(as)) location.AsName = name;
                loc_as_unref(as);
            }
        }
        return location;
    }

    const TLocationDatabase& Database() const override { return Info_; }

    bool Replaced() const override {
        // A file gone from the path replaces nothing: the one read here still answers.
        struct stat status {};
        return ::stat(Info_.Path.c_str(), &status) == 0 && !(IdentityOf(status) == Identity_);
    }

private:
    loc_ctx* Context_;
    loc_database* Database_;
    FILE* File_;  // the library reads the database through it for as long as it is open
    TFileIdentity Identity_;
    TLocationDatabase Info_;
};

}  // namespace

std::string LocationDatabasePath(const TEnvLookup& env) {
    return env(kDatabasePathVariable).value_or(kDefaultDatabasePath);
}

TResult<std::unique_ptr<TLocationLookup>> OpenLocationDatabase(const std::string& path) {
    const std::string context = "reading the location database " + path;
    FILE* file = std::fopen(path.c_str(), "re");
    if (!file) return FailureFromErrno(context);
    struct stat status {};
    if (::fstat(fileno(file), &status) != 0) {
        const TFailure failure = FailureFromErrno(context);
        std::fclose(file);
        return failure;
    }
    if (!S_ISREG(status.st_mode)) {
        std::fclose(file);
        return TFailure{0, context + ": not a regular file"};
    }
    loc_ctx* ctx = nullptr;
    if (loc_new(&ctx) != 0) {
        const TFailure failure = FailureFromErrno(context);
        std::fclose(file);
        return failure;
    }
    loc_set_log_fn(ctx, QuietLog);
    loc_database* database = nullptr;
    errno = 0;
    if (loc_database_new(ctx, &database, file) != 0 || database == nullptr) {
        // The library leaves errno at the failed read, or at ENOMSG (or
        // nothing) for a file that is no database of its kind.
        const int error = errno;
        loc_unref(ctx);
        std::fclose(file);
        if (error == 0 || error == ENOMSG) return TFailure{0, context + ": not a location database"};
        return TFailure{error, context};
    }
    return std::unique_ptr<TLocationLookup>(
        std::make_unique<TLibLocLookup>(ctx, database, file, IdentityOf(status), path));
}

}  // namespace tarnwick
