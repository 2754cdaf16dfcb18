(begin
  (define y (quote old))
  (define set-y (lambda (v) (define y v)))
  (set-y new)
  (list y v))
