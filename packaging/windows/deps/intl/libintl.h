/* A pass-through libintl for the Windows dependency prefix. GLib and GMime
 * are built without translations, yet GLib 2.74 still needs libintl's
 * functions: each lookup here returns the message it was given (the plural
 * one when n != 1, as gettext does without a catalogue). */
#ifndef QUILLMAR_PASSTHROUGH_LIBINTL_H
#define QUILLMAR_PASSTHROUGH_LIBINTL_H

#include <locale.h>

/* Windows' locale.h has no LC_MESSAGES; GNU libintl.h defines it as 1729,
 * and GLib passes it to dcgettext(). */
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The result is the format string given, as GNU's header tells the compiler:
 * GLib builds with -Werror=format-nonliteral. */
#define QM_FORMAT_ARG(n) __attribute__((__format_arg__(n)))

char *gettext(const char *msgid) QM_FORMAT_ARG(1);
char *dgettext(const char *domainname, const char *msgid) QM_FORMAT_ARG(2);
char *dcgettext(const char *domainname, const char *msgid, int category)
    QM_FORMAT_ARG(2);
char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n)
    QM_FORMAT_ARG(1) QM_FORMAT_ARG(2);
char *dngettext(const char *domainname, const char *msgid,
                const char *msgid_plural, unsigned long n)
    QM_FORMAT_ARG(2) QM_FORMAT_ARG(3);
char *dcngettext(const char *domainname, const char *msgid,
                 const char *msgid_plural, unsigned long n, int category)
    QM_FORMAT_ARG(2) QM_FORMAT_ARG(3);
char *textdomain(const char *domainname);
char *bindtextdomain(const char *domainname, const char *dirname);
char *bind_textdomain_codeset(const char *domainname, const char *codeset);

#ifdef __cplusplus
}
#endif

#endif
