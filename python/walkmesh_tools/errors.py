"""The exception a query raises when the tables it searches are inconsistent, or when
a node it names lies outside them."""
from __future__ import annotations

from typing import Any, Optional, Tuple

__all__ = ["QueryError"]


class QueryError(ValueError):
    """A query that cannot be answered: a start or target outside the node table, or a
    table inconsistency the search met (an edge run or an edge's target outside its
    table, a predecessor chain that does not lead back to the start).

    `reason` says what is wrong; `query` is the query's position in a batch (None for
    a single call); `node` and `edge` name the node and the edge concerned (None where
    none). The message is the reason, after "query {query}: " in a batch.

    >>> error = QueryError("start node 9 is outside the node table (4 nodes)", query=2, node=9)
    >>> str(error), error.node, error.edge
    ('query 2: start node 9 is outside the node table (4 nodes)', 9, None)
    """

    def __init__(self, reason: str, *, query: Optional[int] = None, node: Optional[int] = None,
                 edge: Optional[int] = None) -> None:
        super().__init__(reason if query is None else f"query {query}: {reason}")
        self.reason = reason
        self.query = query
        self.node = node
        self.edge = edge

    def renumbered(self, first: int) -> "QueryError":
        """The same error for a batch whose queries start at position `first` of a
        larger one (a chunk of a batch spread over workers)."""
        query = None if self.query is None else first + self.query
        return type(self)(self.reason, query=query, node=self.node, edge=self.edge)

    def __reduce__(self) -> Tuple[Any, ...]:
        # Keyword-only arguments do not survive the default pickling of exceptions,
        # and workers of a cluster send errors back pickled.
        return (_rebuild, (type(self), self.reason, self.query, self.node, self.edge))


def _rebuild(cls: type, reason: str, query: Optional[int], node: Optional[int],
             edge: Optional[int]) -> QueryError:
    error: QueryError = cls(reason, query=query, node=node, edge=edge)
    return error
