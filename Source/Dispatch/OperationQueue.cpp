#include "Dispatch/OperationQueue.h"

#include "Dispatch/OperationQueueCore.h"

#include <utility>

namespace orvex {

OperationQueue::OperationQueue(std::string label, std::size_t maxConcurrentOperationCount)
    : core_(std::make_shared<detail::OperationQueueCore>(std::move(label), maxConcurrentOperationCount)) {}

OperationQueue::~OperationQueue() {
  core_->shutdown();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  core_->add(operation);
}

std::shared_ptr<Operation> OperationQueue::addOperation(Operation::Body body) {
  auto operation = Operation::create(std::move(body));
  core_->add(operation);
  return operation;
}

void OperationQueue::setMaxConcurrentOperationCount(std::size_t width) {
  core_->setWidth(width);
}

std::size_t OperationQueue::maxConcurrentOperationCount() const {
  return core_->width();
}

void OperationQueue::cancelAllOperations() {
  core_->cancelAll();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  core_->waitUntilEmpty();
}

std::size_t OperationQueue::operationCount() const {
  return core_->count();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  return core_->snapshot();
}

const std::string& OperationQueue::label() const {
  return core_->label();
}

} // namespace orvex
