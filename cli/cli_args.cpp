/* tessary-cli: the one option loop every command uses, and the one way a
 * number is read from the command line. */
#include "cli/cli.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

/* Only what a person types as a number: an optional sign, digits with at
 * most one point and, unless whole, an exponent. No blanks, no hex, no
 * "inf": strtod alone takes all of those. */
static int number_text(const char *s, int whole) {
    const char *p = s;
    if (*p == '+' || *p == '-') p++;
    int digits = 0, point = 0;
    for (; *p; p++) {
        if (*p >= '0' && *p <= '9')
            digits++;
        else if (*p == '.' && !point && !whole)
            point = 1;
        else
            break;
    }
    if (!digits) return 0;
    if (!whole && (*p == 'e' || *p == 'E')) {
        p++;
        if (*p == '+' || *p == '-') p++;
        if (!(*p >= '0' && *p <= '9')) return 0;
        while (*p >= '0' && *p <= '9') p++;
    }
    return *p == '\0';
}

int cli_parse_double(const char *s, double *out) {
    if (!s || !number_text(s, 0)) return -1;
    double v = strtod(s, nullptr); /* an underflow is near enough the number meant */
    if (!isfinite(v)) return -1;
    *out = v;
    return 0;
}

int cli_parse_int(const char *s, long *out) {
    if (!s || !number_text(s, 1)) return -1;
    errno = 0;
    long v = strtol(s, nullptr, 10);
    if (errno != 0) return -1;
    *out = v;
    return 0;
}

CliOption cli_flag_opt(const char *name, int *to, int value) {
    CliOption o;
    o.name = name;
    o.kind = OPT_FLAG;
    o.take = [to, value](const char *, double) {
        *to = value;
        return -1;
    };
    return o;
}

CliOption cli_text_opt(const char *name, const char *alias, const char **to, int kind) {
    CliOption o;
    o.name = name;
    o.alias = alias;
    o.kind = kind;
    o.take = [to](const char *v, double) {
        *to = v;
        return -1;
    };
    return o;
}

CliOption cli_number_opt(const char *name, int kind, double lo, double hi, std::string must,
                         std::function<void(double)> set) {
    CliOption o;
    o.name = name;
    o.kind = kind;
    o.lo = lo;
    o.hi = hi;
    o.must = must;
    o.take = [set](const char *, double v) {
        set(v);
        return -1;
    };
    return o;
}

/* "--name", "--name=value" or the alias; *inl gets the inline value. */
static const CliOption *find_option(const std::vector<CliOption> &table, const char *arg,
                                    const char **inl) {
    for (const CliOption &o : table) {
        for (const char *name : {o.name, o.alias}) {
            if (!name) continue;
            size_t n = strlen(name);
            if (strncmp(arg, name, n) != 0) continue;
            *inl = nullptr;
            if (arg[n] == '\0') return &o;
            if (arg[n] == '=' && name[1] == '-') {
                *inl = arg + n + 1;
                return &o;
            }
        }
    }
    return nullptr;
}

/* The value as the option takes it: -1 to go on, else the exit status. */
static int take_value(const char *cmd, const char *arg, const CliOption &o, const char *val) {
    double num = 0;
    if (o.kind == OPT_PATH && !*val) return cli_usage_error(cmd, "%s needs a file name", arg);
    if (o.kind == OPT_WHOLE || o.kind == OPT_PERCENT || o.kind == OPT_REAL) {
        std::string text = val;
        if (o.kind == OPT_PERCENT && !text.empty() && text.back() == '%') text.pop_back();
        long whole = 0;
        int ok = o.kind == OPT_REAL ? cli_parse_double(text.c_str(), &num) == 0
                                    : cli_parse_int(text.c_str(), &whole) == 0;
        if (o.kind != OPT_REAL) num = (double)whole;
        /* A hair of tolerance: 0.7 typed is not quite 0.7 in binary. */
        double slack = o.kind == OPT_REAL ? 1e-9 * (fabs(o.lo) + fabs(o.hi) + 1) : 0;
        if (!ok || num < o.lo - slack || num > o.hi + slack)
            return cli_usage_error(cmd, "%s, not '%s'", o.must.c_str(), val);
        if (num < o.lo) num = o.lo;
        if (num > o.hi) num = o.hi;
    }
    return o.take(val, num);
}

int cli_parse(const char *cmd, int argc, char **argv, const std::vector<CliOption> &table,
              void (*help)(void), std::vector<const char *> *pos) {
    int only_pos = 0;
    for (int i = 0; i < argc; i++) {
        const char *arg = argv[i];
        if (only_pos || arg[0] != '-' || strcmp(arg, "-") == 0) {
            pos->push_back(arg);
            continue;
        }
        if (strcmp(arg, "--") == 0) { /* what follows is never an option, even "-x" */
            only_pos = 1;
            continue;
        }
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            help();
            return CLI_OK;
        }
        const char *inl = nullptr;
        const CliOption *o = find_option(table, arg, &inl);
        if (!o) return cli_usage_error(cmd, "unknown option '%s'", arg);
        if (o->kind == OPT_FLAG) {
            if (inl) return cli_usage_error(cmd, "%s takes no value", o->name);
            o->take(nullptr, 0);
            continue;
        }
        const char *val = inl ? inl : i + 1 < argc ? argv[++i] : nullptr;
        if (!val) return cli_usage_error(cmd, "%s needs a value", arg);
        int r = take_value(cmd, inl ? o->name : arg, *o, val);
        if (r >= 0) return r;
    }
    return -1;
}
