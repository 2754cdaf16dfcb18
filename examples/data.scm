(list 42 (quote symbol) (quote (1 (2 3) ())) (cons 1 2) (< 1 2) (< 2 1) (quote -5) (quote #t))
