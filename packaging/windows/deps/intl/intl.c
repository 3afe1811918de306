/* The pass-through libintl (see libintl.h): no catalogues, no state beyond
 * what textdomain() and the bind functions are documented to return. */
#include "libintl.h"

#include <stddef.h>

static const char *current_domain = "messages";

char *gettext(const char *msgid) { return (char *)msgid; }

char *dgettext(const char *domainname, const char *msgid)
{
    (void)domainname;
    return (char *)msgid;
}

char *dcgettext(const char *domainname, const char *msgid, int category)
{
    (void)domainname;
    (void)category;
    return (char *)msgid;
}

char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n)
{
    return (char *)(n == 1 ? msgid : msgid_plural);
}

char *dngettext(const char *domainname, const char *msgid,
                const char *msgid_plural, unsigned long n)
{
    (void)domainname;
    return ngettext(msgid, msgid_plural, n);
}

char *dcngettext(const char *domainname, const char *msgid,
                 const char *msgid_plural, unsigned long n, int category)
{
    (void)domainname;
    (void)category;
    return ngettext(msgid, msgid_plural, n);
}

/* NULL asks for the current domain, as in GNU gettext. The name is kept by
 * pointer: callers pass string literals (GETTEXT_PACKAGE). */
char *textdomain(const char *domainname)
{
    if (domainname != NULL)
        current_domain = domainname[0] ? domainname : "messages";
    return (char *)current_domain;
}

/* Without catalogues there is nothing to bind: report the values given. */
char *bindtextdomain(const char *domainname, const char *dirname)
{
    (void)domainname;
    return (char *)dirname;
}

char *bind_textdomain_codeset(const char *domainname, const char *codeset)
{
    (void)domainname;
    return (char *)codeset;
}
