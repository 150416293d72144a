// Predicate: one entry of a request's where-clause (also the record of a link's
// where-clause and of an event field).
#pragma once

#include <cstdint>
#include <utility>

#include "request/enums.h"
#include "request/tsl_string.h"

struct Predicate {
    int32_t logic = LOGIC_NOLOGIC;
    int32_t lparen = 0;
    tslString target;
    int32_t oper = OPER_NOOPERATOR;
    tslString atom;
    int32_t rparen = 0;

    Predicate() = default;
    Predicate(int32_t logic_, int32_t lparen_, tslString target_, int32_t oper_, tslString atom_,
              int32_t rparen_)
        : logic(logic_),
          lparen(lparen_),
          target(std::move(target_)),
          oper(oper_),
          atom(std::move(atom_)),
          rparen(rparen_) {}
};
